// The one way the runtime calls DOS (INT 21h) for services that keep the
// stack and SI/DI: registers in, registers and the carry flag out.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

struct DosRegisters {
    uint32_t ax = 0, bx = 0, cx = 0, dx = 0;
};

// Returns true when DOS reports failure (carry set); ax then holds the error.
inline bool CallDos(DosRegisters &r) {
    bool failed;
    asm volatile("int $0x21"
                 : "=@ccc"(failed), "+a"(r.ax), "+b"(r.bx), "+c"(r.cx), "+d"(r.dx)
                 :
                 : "memory");
    return failed;
}

// The same with DS on another segment for the call, for services that take
// a buffer at DS:DX outside the data segment. DS is the data segment again
// when it returns.
inline bool CallDosWithDs(DosRegisters &r, uint16_t ds) {
    bool failed;
    asm volatile("pushw %%ds\n\tmovw %w[ds], %%ds\n\tint $0x21\n\tpopw %%ds"
                 : "=@ccc"(failed), "+a"(r.ax), "+b"(r.bx), "+c"(r.cx), "+d"(r.dx)
                 : [ds] "D"(uint32_t(ds))
                 : "memory");
    return failed;
}

// DOS takes buffers as 16-bit offsets in DS: a buffer must lie wholly in
// the program's 64 KiB data segment.
inline bool InDosReach(const void *buffer, size_t size) {
    uintptr_t at = reinterpret_cast<uintptr_t>(buffer);
    return at <= 0x10000 && size <= 0x10000 - at;
}

}  // namespace dos16
