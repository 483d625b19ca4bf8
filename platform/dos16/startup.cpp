// Program start: DOS enters with CS:IP and SS:SP from the MZ header and DS =
// ES = the PSP segment. After the processor and DOS checks, the code puts
// DS, ES and SS on the data segment
// (CS plus the code's paragraphs), takes a 32-bit stack pointer, clears the
// direction flag (the memory functions copy upward), zeroes .bss, fills the
// stack with a mark (so that its depth can be measured), shrinks
// the program's memory block to its PSP, code and data (a loader that gave
// it all free memory would leave none for the programs it runs; a resize
// DOS refuses ends the program) and keeps the PSP segment, then runs main
// with arguments split from the command tail.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

extern "C" int main(int argc, char **argv);
extern "C" const uint8_t __stack_bottom[], __stack_top[];

// The byte the start-up fills the stack with.
extern "C" const uint8_t dos16_stack_mark = 0xA5;

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

// The first instructions are an 8086's, up to dos16_startup_checked (the
// post-link check holds them to that): on an 8086 or a 286 the first
// 32-bit instruction would hang the machine instead of saying why. FLAGS
// bits 12-15 stay set on an 8086 and clear on a 286 in real mode. DOS
// before 3.0 lacks calls the runtime makes. Either ends the program with
// one line and kRuntimeFailure. ES keeps the PSP segment meanwhile.
asm(R"(
    .section .text.start, "ax"
    .globl _start
    .globl dos16_startup_checked
_start:
    movw %cs, %ax
    addw $__code_paragraphs, %ax
    movw %ax, %ds
    pushfw
    popw %cx
    movw %cx, %ax
    andw $0x0FFF, %ax
    pushw %ax
    popfw
    pushfw
    popw %ax
    andw $0xF000, %ax
    cmpw $0xF000, %ax
    je 1f
    movw %cx, %ax
    orw $0xF000, %ax
    pushw %ax
    popfw
    pushfw
    popw %ax
    pushw %cx
    popfw
    testw $0xF000, %ax
    jz 1f
    movw $0x3000, %ax
    int $0x21
    cmpb $3, %al
    jb 2f
    jmp dos16_startup_checked
1:  movw $dos16_processor_line, %dx
    jmp 3f
2:  movw $dos16_dos_version_line, %dx
3:  movb $0x09, %ah
    int $0x21
    movw $0x4CFF, %ax
    int $0x21
dos16_startup_checked:
    cli
    movw %es, %dx
    movw %ds, %ax
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
    movl $__stack_bottom, %edi
    movl $__stack_top, %ecx
    subl %edi, %ecx
    movb dos16_stack_mark, %al
    addr32 rep stosb
    movw %ds, %bx
    subw %dx, %bx
    addw $__data_paragraphs, %bx
    movw %dx, %es
    movw $0x4A00, %ax
    int $0x21
    movw %ds, %ax
    movw %ax, %es
    jc 4f
    movzwl %dx, %edx
    pushl %edx
    calll dos16_run
4:  movw $dos16_resize_line, %dx
    jmp 3b
    .section .rodata.dos16_startup, "a"
dos16_processor_line:
    .ascii "This program needs an 80386 processor or later.\r\n$"
dos16_dos_version_line:
    .ascii "This program needs DOS 3.0 or later.\r\n$"
dos16_resize_line:
    .ascii "DOS could not resize the program's memory block.\r\n$"
    .text
)");

namespace dos16 {

uint16_t PspSegment() { return pspSegment; }

namespace {
size_t StackSize() {
    return reinterpret_cast<uintptr_t>(__stack_top) - reinterpret_cast<uintptr_t>(__stack_bottom);
}
}  // namespace

size_t StackUnused() {
    const size_t size = StackSize();
    size_t n = 0;
    while (n < size && __stack_bottom[n] == dos16_stack_mark)
        ++n;
    return n;
}

void Exit(int code) {
    if (StackUnused() < kStackGuard) {
        Printf("\r\nThe program used more than its %u bytes of stack: its data may be damaged.\r\n",
               uint32_t(StackSize() - kStackGuard));
        code = kRuntimeFailure;
    }
    FlushBuffers();
    DosRegisters r;
    r.ax = 0x4C00 | uint8_t(code);
    CallDos(r);
    __builtin_unreachable();
}

}  // namespace dos16
