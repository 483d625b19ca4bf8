// Reads of any 32-bit physical address from real mode ("flat real mode"):
// FS keeps a 4 GiB limit after a short trip through protected mode.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

enum class FlatMode { Ready, VirtualMode };

// The one line a program shows when LoadFSLimit4G answers VirtualMode; the
// firmware then counts as unreadable.
inline constexpr char kVirtualModeLine[] =
    "The processor runs in virtual-8086 mode (a memory manager is loaded): "
    "the firmware cannot be read.\r\n";

// Turns A20 on and gives FS a 4 GiB limit with base 0. Code that switches
// to protected mode itself (some drivers and BIOS calls) resets the limit,
// so callers enter again before each use. Under a memory manager the
// processor runs DOS in virtual-8086 mode, where this cannot be done.
FlatMode LoadFSLimit4G();

// Valid only after LoadFSLimit4G returned Ready.
uint8_t ReadFlatByte(uint32_t address);
void ReadFlat(uint32_t address, uint8_t *out, size_t count);

}  // namespace dos16
