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

inline void WriteRealByte(uint16_t segment, uint16_t offset, uint8_t value) {
    uint32_t at = offset;
    asm volatile("movw %0, %%gs\n\tmovb %2, %%gs:(%1)" : : "r"(segment), "r"(at), "q"(value) : "memory");
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

// Interrupts off until RestoreInterrupts is given the flags this returned,
// which puts back whatever state they had.
inline uint32_t DisableInterrupts() {
    uint32_t flags;
    asm volatile("pushfl\n\tpopl %0\n\tcli" : "=r"(flags) : : "memory");
    return flags;
}

inline void RestoreInterrupts(uint32_t flags) {
    asm volatile("pushl %0\n\tpopfl" : : "r"(flags) : "memory", "cc");
}

// The keyboard controller takes a byte once its input buffer is empty
// (status bit 1); a controller that never empties it is given up on.
inline void WaitForControllerInput() {
    for (int i = 0; i < 100000 && (InPort(0x64) & 0x02); ++i) {
    }
}

}  // namespace dos16
