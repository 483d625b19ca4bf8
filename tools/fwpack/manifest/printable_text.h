// Names and tags as they appear in messages: every message stays one line,
// whatever bytes a name holds.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace fwpack {

// Printable ASCII as it stands; control characters and bytes above 0x7E
// as \xNN.
std::string Printable(std::string_view text);
// Printable(text) in double quotes.
std::string Quoted(std::string_view text);
// v as "0x" and the given number of upper-case hex digits (at least).
std::string Hex(uint32_t v, int digits);

}  // namespace fwpack
