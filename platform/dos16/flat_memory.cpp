// Flat real mode: load a descriptor table with one 4 GiB data segment, set
// the protection bit, load FS (its hidden limit becomes 4 GiB), clear the
// bit again and set FS to 0. Real mode keeps the limit; only the base
// follows the segment value.
#include "platform/dos16/flat_memory.h"

#include "platform/dos16/ports.h"

namespace dos16 {
namespace {

struct [[gnu::packed]] DescriptorTablePointer {
    uint16_t limit;
    uint32_t base;
};

// Null descriptor, then data: base 0, limit 0xFFFFF pages, writable, present.
alignas(8) const uint32_t descriptorTable[4] = {0, 0, 0x0000FFFF, 0x00CF9200};
constexpr uint16_t kFlatSelector = 8;

bool InVirtualMode() {
    uint16_t status;
    asm volatile("smsw %0" : "=r"(status));
    return status & 1;  // protection enabled while DOS thinks it is in real mode
}

// The XMS driver's "local enable A20" (AH=05h) when a driver is loaded;
// otherwise the fast gate of port 0x92 (bit 1; bit 0 would reset).
void EnableA20() {
    uint32_t installed = 0x4300;
    asm volatile("int $0x2F" : "+a"(installed) : : "memory");
    if ((installed & 0xFF) == 0x80) {
        uint16_t entry[2];
        uint32_t ax = 0x4310, bx = 0;
        asm volatile("pushw %%es\n\tint $0x2F\n\tmovw %%es, %%cx\n\tpopw %%es"
                     : "+a"(ax), "+b"(bx), "=c"(entry[1])
                     :
                     : "memory");
        entry[0] = uint16_t(bx);
        uint32_t result = 0x0500;
        asm volatile("lcallw *%1" : "+a"(result) : "m"(entry) : "ebx", "memory");
        if ((result & 0xFFFF) == 1)
            return;
    }
    OutPort(0x92, uint8_t((InPort(0x92) | 0x02) & 0xFE));
}

}  // namespace

FlatMode LoadFSLimit4G() {
    if (InVirtualMode())
        return FlatMode::VirtualMode;
    EnableA20();
    DescriptorTablePointer pointer{sizeof descriptorTable - 1,
                                   uint32_t(DataSegment()) * 16 +
                                       uint32_t(reinterpret_cast<uintptr_t>(descriptorTable))};
    asm volatile(R"(
        pushfl
        cli
        lgdtl %0
        movl %%cr0, %%eax
        orb $1, %%al
        movl %%eax, %%cr0
        jmp 1f
1:      movw %1, %%fs
        andb $0xFE, %%al
        movl %%eax, %%cr0
        jmp 2f
2:      xorw %%ax, %%ax
        movw %%ax, %%fs
        popfl
    )"
                 :
                 : "m"(pointer), "r"(kFlatSelector)
                 : "eax", "memory");
    return FlatMode::Ready;
}

uint8_t ReadFlatByte(uint32_t address) {
    uint8_t value;
    asm volatile("movb %%fs:(%1), %0" : "=q"(value) : "r"(address) : "memory");
    return value;
}

void ReadFlat(uint32_t address, uint8_t *out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = ReadFlatByte(address + uint32_t(i));
}

}  // namespace dos16
