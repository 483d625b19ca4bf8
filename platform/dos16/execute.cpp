// Runs a program file through DOS's loader (INT 21h AH=4Bh) and takes its
// exit code (AH=4Dh). DOS versions before 3.0 keep no register but CS:IP
// across EXEC, so every register and SS:ESP are saved and put back.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

extern "C" int32_t dos16_exec(const char *program, const void *parameters);

asm(R"(
    .section .data.dos16_exec, "aw"
dos16_exec_esp: .long 0
dos16_exec_ax:  .word 0
dos16_exec_cf:  .byte 0
    .section .text.dos16_exec, "ax"
    .globl dos16_exec
dos16_exec:
    pushl %ebp
    movl %esp, %ebp
    pushal
    pushw %ds
    pushw %es
    pushw %fs
    pushw %gs
    movl 8(%ebp), %edx
    movl 12(%ebp), %ebx
    movl %esp, %cs:dos16_exec_esp
    movw $0x4B00, %ax
    int $0x21
    cli
    movw %cs, %bx
    movw %bx, %ss
    movl %cs:dos16_exec_esp, %esp
    sti
    movw %ax, %cs:dos16_exec_ax
    setc %cs:dos16_exec_cf
    popw %gs
    popw %fs
    popw %es
    popw %ds
    popal
    movzwl dos16_exec_ax, %eax
    cmpb $0, dos16_exec_cf
    je 1f
    negl %eax
1:  popl %ebp
    retl
    .text
)");

namespace dos16 {
namespace {

struct [[gnu::packed]] FarPointer {
    uint16_t offset, segment;
};

struct [[gnu::packed]] ExecParameters {
    uint16_t environment;  // 0: a copy of ours
    FarPointer commandTail, fcb1, fcb2;
};

}  // namespace

int32_t Execute(const char *program, const char *arguments) {
    // The tail: its length, a space and the arguments, then a carriage return.
    static char tail[128];
    size_t n = 0;
    if (*arguments)
        tail[1 + n++] = ' ';
    for (; *arguments; ++arguments) {
        if (n == 126)
            return kBufferOutOfReach;
        tail[1 + n++] = *arguments;
    }
    tail[0] = char(n);
    tail[1 + n] = '\r';

    uint16_t segment = ProgramSegment();
    static ExecParameters parameters;
    parameters.environment = 0;
    parameters.commandTail = {uint16_t(reinterpret_cast<uintptr_t>(tail)), segment};
    parameters.fcb1 = {0x5C, PspSegment()};
    parameters.fcb2 = {0x6C, PspSegment()};
    int32_t result = dos16_exec(program, &parameters);
    if (result < 0)
        return result;
    DosRegisters r;
    r.ax = 0x4D00;
    CallDos(r);
    return int32_t(r.ax & 0xFF);
}

}  // namespace dos16
