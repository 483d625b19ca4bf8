// The BIOS block move (INT 15h AH=87h): the BIOS copies between two 32-bit
// physical addresses in protected mode and returns. Memory managers that
// run DOS in virtual-8086 mode carry it out themselves, so it reads the
// firmware where flat real mode cannot be entered; it works in real mode
// too. The BIOS looks after A20 itself.
#include "platform/dos16/flat_memory.h"
#include "platform/dos16/ports.h"

namespace dos16 {
namespace {

struct [[gnu::packed]] Descriptor {
    uint16_t limit = 0;
    uint16_t baseLow = 0;
    uint8_t baseMiddle = 0;
    uint8_t access = 0;
    uint8_t flags = 0;
    uint8_t baseHigh = 0;
};

// A 64 KiB data segment at base: writable, present (access 93h).
Descriptor DataDescriptor(uint32_t base) {
    Descriptor d;
    d.limit = 0xFFFF;
    d.baseLow = uint16_t(base);
    d.baseMiddle = uint8_t(base >> 16);
    d.access = 0x93;
    d.baseHigh = uint8_t(base >> 24);
    return d;
}

// The table the call takes at ES:SI: null, its own, source, destination,
// and two the BIOS fills in for itself.
struct BlockMoveTable {
    Descriptor entries[6];
};

}  // namespace

bool ReadBlockMove(uint32_t address, uint8_t *out, uint16_t count) {
    static BlockMoveTable table;
    table = {};
    table.entries[2] = DataDescriptor(address);
    table.entries[3] = DataDescriptor(uint32_t(DataSegment()) * 16 + uint32_t(reinterpret_cast<uintptr_t>(out)));
    // ES is the data segment already; SI is the runtime's own (ESI is kept
    // from gcc), so it is borrowed and given back.
    uint32_t ax = 0x8700, cx = count / 2u, bx = uint32_t(reinterpret_cast<uintptr_t>(&table));
    bool failed;
    asm volatile("xchgl %%ebx, %%esi\n\tint $0x15\n\txchgl %%ebx, %%esi"
                 : "=@ccc"(failed), "+a"(ax), "+b"(bx), "+c"(cx)
                 :
                 : "edx", "edi", "memory");
    return !failed && ((ax >> 8) & 0xFF) == 0;
}

}  // namespace dos16
