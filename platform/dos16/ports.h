// Machine access that real mode allows directly: I/O ports and bytes of
// other real-mode segments. Everything else the program touches lives in its
// data segment (DS = ES = SS); its code has a segment of its own (CS).
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

// The segment of the program's data, bss and stack: what DOS needs beside
// an offset to reach a buffer, and the base of a linear address.
inline uint16_t DataSegment() {
    uint16_t segment;
    asm("movw %%ds, %0" : "=r"(segment));
    return segment;
}

}  // namespace dos16
