// Flat real mode: load a descriptor table with one 4 GiB data segment, set
// the protection bit, load FS (its hidden limit becomes 4 GiB), clear the
// bit again and set FS to 0. Real mode keeps the limit; only the base
// follows the segment value. Code that switches modes itself (drivers, some
// BIOS calls, an interrupt handler among them) resets the limit, so every
// read window sets it anew with interrupts off.
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

// Interrupts must be off: a handler that ran while the protection bit is
// set would run in protected mode.
void SetFsLimit4G() {
    DescriptorTablePointer pointer{sizeof descriptorTable - 1,
                                   uint32_t(DataSegment()) * 16 +
                                       uint32_t(reinterpret_cast<uintptr_t>(descriptorTable))};
    asm volatile(R"(
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
    )"
                 :
                 : "m"(pointer), "r"(kFlatSelector)
                 : "eax", "memory");
}

}  // namespace

FlatMode PrepareFlatMode() {
    if (InVirtualMode())
        return FlatMode::VirtualMode;
    return EnableA20() ? FlatMode::Ready : FlatMode::A20Off;
}

bool ReadFlatWindow(uint32_t address, uint8_t *out, size_t count) {
    const uint32_t flags = DisableInterrupts();
    const bool a20 = A20IsOn();
    if (a20) {
        SetFsLimit4G();
        for (size_t i = 0; i < count; ++i)
            out[i] = ReadFlatByte(address + uint32_t(i));
    }
    RestoreInterrupts(flags);
    return a20;
}

FlatMode LoadFSLimit4G() {
    const FlatMode mode = PrepareFlatMode();
    if (mode == FlatMode::Ready) {
        const uint32_t flags = DisableInterrupts();
        SetFsLimit4G();
        RestoreInterrupts(flags);
    }
    return mode;
}

uint8_t ReadFlatByte(uint32_t address) {
    uint8_t value;
    asm volatile("movb %%fs:(%1), %0" : "=q"(value) : "r"(address) : "memory");
    return value;
}

}  // namespace dos16
