// Program start: DOS enters with CS:IP and SS:SP from the MZ header and DS =
// ES = the PSP segment. The code puts every segment register on the one
// program segment, takes a 32-bit stack pointer, clears the direction flag
// (the memory functions copy upward), zeroes .bss and keeps the PSP segment,
// then runs main with arguments split from the command tail.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

extern "C" int main(int argc, char **argv);

namespace {

constexpr int kMaxArguments = 32;
uint16_t pspSegment;
char commandTail[128];
char ownPath[80];
char *arguments[kMaxArguments + 1];

int SplitCommandTail() {
    using namespace dos16;
    int length = ReadRealByte(pspSegment, 0x80);
    if (length > 126)
        length = 126;
    for (int i = 0; i < length; ++i)
        commandTail[i] = char(ReadRealByte(pspSegment, uint16_t(0x81 + i)));
    commandTail[length] = 0;

    int argc = 0;
    arguments[argc++] = OwnPath(ownPath, sizeof ownPath) >= 0 ? ownPath : commandTail + length;
    char *p = commandTail;
    while (*p && argc < kMaxArguments) {
        while (*p == ' ' || *p == '\t')
            *p++ = 0;
        if (*p == 0 || *p == '\r')
            break;
        arguments[argc++] = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r')
            ++p;
        if (*p == '\r')
            *p = 0;
    }
    arguments[argc] = nullptr;
    return argc;
}

}  // namespace

extern "C" [[noreturn]] void dos16_run(uint16_t psp) {
    pspSegment = psp;
    int argc = SplitCommandTail();
    dos16::Exit(main(argc, arguments));
}

asm(R"(
    .section .text.start, "ax"
    .globl _start
_start:
    cli
    movw %ds, %dx
    movw %cs, %ax
    movw %ax, %ds
    movw %ax, %es
    movw %ax, %ss
    movl $__stack_top, %esp
    sti
    cld
    movl $__bss_start, %edi
    movl $__bss_end, %ecx
    subl %edi, %ecx
    xorl %eax, %eax
    addr32 rep stosb
    movzwl %dx, %edx
    pushl %edx
    calll dos16_run
    .text
)");

namespace dos16 {

uint16_t PspSegment() { return pspSegment; }

void Exit(int code) {
    DosRegisters r;
    r.ax = 0x4C00 | uint8_t(code);
    CallDos(r);
    __builtin_unreachable();
}

}  // namespace dos16
