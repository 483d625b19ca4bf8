// The flat-real-mode check the DOS test programs share: the whole BIOS
// segment read through FS at 0xF0000 and the real-mode way through F000h.
// DOSBox does not enforce real-mode limits, so agreement is the proof that
// the flat reader addresses physical memory.
#pragma once
#include "platform/dos16/flat_memory.h"
#include "platform/dos16/ports.h"

namespace dosprog {

// Bytes that differ between the two reads; call after LoadFSLimit4G.
inline uint32_t BiosDifferences() {
    uint32_t differences = 0;
    for (uint32_t offset = 0; offset < 0x10000; ++offset)
        if (dos16::ReadFlatByte(0xF0000 + offset) != dos16::ReadRealByte(0xF000, uint16_t(offset)))
            ++differences;
    return differences;
}

}  // namespace dosprog
