// Memory that DOS hands out beyond the program's data segment (INT 21h
// AH=48h), reached through ES for a fill; files reach it through DS (files.cpp).
#include "platform/dos16/dos_call.h"
#include "platform/dos16/runtime.h"

namespace dos16 {

int32_t AllocateParagraphs(uint16_t paragraphs) {
    DosRegisters r;
    r.ax = 0x4800;
    r.bx = paragraphs;
    if (CallDos(r))
        return -int32_t(r.ax & 0xFFFF);
    return int32_t(r.ax & 0xFFFF);
}

void FillFar(uint16_t segment, uint8_t value, uint16_t count) {
    uint32_t di = 0, cx = count;
    asm volatile("pushw %%es\n\tmovw %w[segment], %%es\n\taddr32 rep stosb\n\tpopw %%es"
                 : "+D"(di), "+c"(cx)
                 : [segment] "d"(uint32_t(segment)), "a"(uint32_t(value))
                 : "memory");
}

}  // namespace dos16
