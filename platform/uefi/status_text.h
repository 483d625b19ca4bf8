// The shell's status text, as it prints %lasterror%: "0x" and hex digits.
// Freestanding, so the host's tests compile it too.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// The status the text at the start of bytes stands for, the text in UCS-2
// after a byte-order mark (as the shell writes a redirected echo) or in
// bytes; false when it holds none (no "0x", no digit, more than 16 digits,
// or a unit above 0xFF where a digit could stand).
bool ReadStatusText(const uint8_t *bytes, size_t size, uint64_t &status);

}  // namespace fwpack
