// Machine access that real mode allows directly: I/O ports and bytes of
// other real-mode segments. Everything else in the program lives in its own
// 64 KiB segment (CS = DS = ES = SS).
#pragma once
#include <stdint.h>

namespace dos16 {

inline uint8_t InPort(uint16_t port) {
    uint8_t value;
    asm volatile("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

inline void OutPort(uint16_t port, uint8_t value) {
    asm volatile("outb %0, %1" : : "a"(value), "Nd"(port));
}

// GS is the runtime's scratch segment register: nothing else uses it, so
// gcc's code (which assumes ES = DS) is not disturbed.
inline uint8_t ReadRealByte(uint16_t segment, uint16_t offset) {
    uint8_t value;
    uint32_t at = offset;
    asm volatile("movw %1, %%gs\n\tmovb %%gs:(%2), %0" : "=q"(value) : "r"(segment), "r"(at));
    return value;
}

inline uint16_t ReadRealWord(uint16_t segment, uint16_t offset) {
    return uint16_t(ReadRealByte(segment, offset) | ReadRealByte(segment, uint16_t(offset + 1)) << 8);
}

// The segment the program runs in (its code, data and stack).
inline uint16_t ProgramSegment() {
    uint16_t segment;
    asm("movw %%cs, %0" : "=r"(segment));
    return segment;
}

}  // namespace dos16
