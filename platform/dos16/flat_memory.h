// Reads of any 32-bit physical address from DOS: flat real mode (FS keeps a
// 4 GiB limit after a short trip through protected mode), or, where a
// memory manager runs DOS in virtual-8086 mode, the BIOS block move, which
// such managers provide.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/dos16/a20.h"

namespace dos16 {

enum class FlatMode { Ready, VirtualMode, A20Off };

// The line a program shows when flat reads cannot be made: with A20 off,
// every address above 1 MiB would read the byte 1 MiB lower.
inline constexpr char kA20OffLine[] =
    "The A20 line cannot be turned on: the firmware cannot be read.\r\n";

// Whether flat reads can be made: not in virtual-8086 mode, A20 on (turned
// on here when it is off).
FlatMode PrepareFlatMode();
// count bytes from address into out: FS gets its 4 GiB limit right before
// the first byte, and interrupts stay off until the last, so no handler
// that switches modes can leave FS with a 64 KiB limit in between. False,
// with nothing read, when A20 was found off. Only after PrepareFlatMode
// answered Ready.
bool ReadFlatWindow(uint32_t address, uint8_t *out, size_t count);

// PrepareFlatMode and the 4 GiB limit alone, for the test programs, which
// then read through ReadFlatByte with interrupts on.
FlatMode LoadFSLimit4G();
uint8_t ReadFlatByte(uint32_t address);

// count bytes (even, at most 64 KiB) from address into out through the
// BIOS block move (INT 15h AH=87h); false when the BIOS refused.
bool ReadBlockMove(uint32_t address, uint8_t *out, uint16_t count);

}  // namespace dos16
