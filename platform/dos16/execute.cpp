// Runs a program file through DOS's loader (INT 21h AH=4Bh) and takes its
// exit code and how it ended (AH=4Dh). DOS versions before 3.0 keep no
// register but CS:IP across EXEC, so every register and SS:ESP are saved
// and put back; the data segment is found again from CS, a fixed number of
// paragraphs below. The program gets DOS's Ctrl-C and critical-error
// handlers, and the two file control blocks DOS parses from its own
// command tail, as the command interpreter gives them.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

extern "C" size_t strlen(const char *text);

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
    movl %esp, dos16_exec_esp
    movw $0x4B00, %ax
    int $0x21
    setc %cl
    cli
    movw %cs, %bx
    addw $__code_paragraphs, %bx
    movw %bx, %ds
    movw %bx, %ss
    movl dos16_exec_esp, %esp
    sti
    movw %ax, dos16_exec_ax
    movb %cl, dos16_exec_cf
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

// Standard output sent to a file for one EXEC: the original handle 1 is
// kept as a duplicate and put back afterwards.
class OutputRedirect {
  public:
    explicit OutputRedirect(const char *file) {
        if (!file)
            return;
        int32_t handle = CreateFile(file);
        if (handle < 0) {
            error_ = handle;
            return;
        }
        saved_ = Duplicate(kStandardOutput);
        if (saved_ < 0 || ForceDuplicate(int(handle), kStandardOutput) < 0)
            error_ = saved_ < 0 ? saved_ : kRedirectFailed;
        CloseFile(int(handle));
    }
    ~OutputRedirect() {
        if (saved_ >= 0) {
            ForceDuplicate(int(saved_), kStandardOutput);
            CloseFile(int(saved_));
        }
    }
    int32_t Error() const { return error_; }

  private:
    static constexpr int kStandardOutput = 1;

    static int32_t Duplicate(int handle) {
        DosRegisters r;
        r.ax = 0x4500;
        r.bx = uint16_t(handle);
        return CallDos(r) ? -int32_t(r.ax & 0xFFFF) : int32_t(r.ax & 0xFFFF);
    }
    static int32_t ForceDuplicate(int handle, int onto) {
        DosRegisters r;
        r.ax = 0x4600;
        r.bx = uint16_t(handle);
        r.cx = uint16_t(onto);
        return CallDos(r) ? -int32_t(r.ax & 0xFFFF) : 0;
    }

    int32_t saved_ = -1;
    int32_t error_ = 0;
};

// An unopened file control block as DOS's parser (AH=29h) fills it.
struct FileControlBlock {
    uint8_t bytes[37];
};

// Parses the next file name of text into fcb, skipping separators first;
// where the parser stopped.
const char *ParseFileName(const char *text, FileControlBlock &fcb) {
    // DS:SI the text, ES:DI the block; SI comes back past the name. gcc
    // keeps SI and DI for itself here, so they are saved around the call.
    uint32_t stop = 0;
    asm volatile("pushl %%esi\n\tpushl %%edi\n\tmovl %%ebx, %%esi\n\tmovl %%edx, %%edi\n\t"
                 "movw $0x2901, %%ax\n\tint $0x21\n\tmovl %%esi, %%ecx\n\tpopl %%edi\n\tpopl %%esi"
                 : "=c"(stop)
                 : "b"(reinterpret_cast<uintptr_t>(text)), "d"(reinterpret_cast<uintptr_t>(&fcb))
                 : "eax", "memory", "cc");
    return reinterpret_cast<const char *>(uintptr_t(stop & 0xFFFF));
}

// How the program ended (AH of AH=4Dh): 0 normally, 1 by Ctrl-C, 2 by a
// critical-error abort, 3 resident.
constexpr uint32_t kEndedNormally = 0;

// DOS's own handlers for the program that runs; the program's own back
// afterwards.
class DosHandlersForChild {
  public:
    DosHandlersForChild() : ours_(BreakHandlersInstalled()) {
        if (ours_)
            RemoveBreakHandlers();
    }
    ~DosHandlersForChild() {
        if (ours_)
            InstallBreakHandlers();
    }

  private:
    bool ours_;
};

bool IsBatchFile(const char *program) {
    size_t n = strlen(program);
    if (n < 4 || program[n - 4] != '.')
        return false;
    const char *extension = program + n - 3;
    return (extension[0] | 0x20) == 'b' && (extension[1] | 0x20) == 'a' &&
           (extension[2] | 0x20) == 't';
}

}  // namespace

int32_t RunTool(const char *program, const char *arguments, const char *outputFile) {
    if (!IsBatchFile(program))
        return Execute(program, arguments, outputFile);
    char interpreter[80], line[127];
    if (GetEnvironment("COMSPEC", interpreter, sizeof interpreter) < 0)
        return -2;  // file not found, as DOS says it
    if (Format(line, sizeof line, "/C %s %s", program, arguments) >= sizeof line)
        return kCommandTooLong;
    return Execute(interpreter, line, outputFile);
}

int32_t Execute(const char *program, const char *arguments, const char *outputFile) {
    // The tail: its length, a space and the arguments, then a carriage return.
    static char tail[128];
    size_t n = 0;
    if (*arguments)
        tail[1 + n++] = ' ';
    for (; *arguments; ++arguments) {
        if (n == 126)
            return kCommandTooLong;
        tail[1 + n++] = *arguments;
    }
    tail[0] = char(n);
    tail[1 + n] = '\r';

    OutputRedirect redirect(outputFile);
    if (redirect.Error() < 0)
        return redirect.Error();
    uint16_t segment = DataSegment();
    // DOS copies the blocks into the program's PSP as it loads it: they
    // need to live only as long as this call.
    FileControlBlock fcb1, fcb2;
    ParseFileName(ParseFileName(tail + 1, fcb1), fcb2);
    static ExecParameters parameters;
    parameters.environment = 0;
    parameters.commandTail = {uint16_t(reinterpret_cast<uintptr_t>(tail)), segment};
    parameters.fcb1 = {uint16_t(reinterpret_cast<uintptr_t>(&fcb1)), segment};
    parameters.fcb2 = {uint16_t(reinterpret_cast<uintptr_t>(&fcb2)), segment};
    int32_t result;
    {
        DosHandlersForChild handlers;
        result = dos16_exec(program, &parameters);
    }
    if (result < 0)
        return result;
    DosRegisters r;
    r.ax = 0x4D00;
    CallDos(r);
    if (((r.ax >> 8) & 0xFF) != kEndedNormally)
        return kEndedAbnormally;
    return int32_t(r.ax & 0xFF);
}

}  // namespace dos16
