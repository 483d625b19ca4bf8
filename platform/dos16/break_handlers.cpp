// Ctrl-C, Ctrl-Break and critical errors while the program runs. DOS's own
// Ctrl-C handler (INT 23h) ends the program on the spot, with no cleanup,
// and its critical-error handler (INT 24h) asks "Abort, Retry, Fail?",
// whose Abort does the same. Ours only note the break, so that the program
// ends at its next step through its own cleanup, and fail the DOS call
// that met the critical error, so that the step that made it fails as any
// failed call does. A program run through EXEC gets DOS's handlers back
// (it may be stopped by a break as usual; EXEC reports how it ended).
#include "platform/dos16/dos_call.h"
#include "platform/dos16/runtime.h"

extern "C" volatile uint8_t dos16_break_flag;

// The handlers find the data segment from CS, as EXEC's return does: DS
// may hold anything when DOS calls them.
asm(R"(
    .section .data.dos16_break, "aw"
    .globl dos16_break_flag
dos16_break_flag: .byte 0
    .section .text.dos16_break, "ax"
    .globl dos16_on_break
dos16_on_break:
    pushw %ds
    pushw %ax
    movw %cs, %ax
    addw $__code_paragraphs, %ax
    movw %ax, %ds
    movb $1, dos16_break_flag
    popw %ax
    popw %ds
    iretw
    .globl dos16_on_critical_error
dos16_on_critical_error:
    movb $3, %al
    iretw
    .text
)");

extern "C" void dos16_on_break();
extern "C" void dos16_on_critical_error();

namespace dos16 {
namespace {

constexpr uint8_t kBreakVector = 0x23, kCriticalErrorVector = 0x24;

struct Vector {
    uint16_t offset = 0, segment = 0;
};

Vector dosBreak, dosCriticalError;
bool installed = false;

Vector GetVector(uint8_t number) {
    uint32_t es = 0;
    DosRegisters r;
    r.ax = 0x3500u | number;
    asm volatile("pushw %%es\n\tint $0x21\n\tmovw %%es, %w0\n\tpopw %%es"
                 : "=r"(es), "+a"(r.ax), "=b"(r.bx)
                 :
                 : "memory");
    return {uint16_t(r.bx), uint16_t(es)};
}

// DS:DX is the handler: DS is switched for the call alone.
void SetVector(uint8_t number, Vector v) {
    uint32_t ax = 0x2500u | number, dx = v.offset, segment = v.segment;
    asm volatile("pushw %%ds\n\tmovw %w2, %%ds\n\tint $0x21\n\tpopw %%ds"
                 : "+a"(ax), "+d"(dx)
                 : "r"(segment)
                 : "memory");
}

uint16_t CodeSegment() {
    uint16_t segment;
    asm("movw %%cs, %0" : "=r"(segment));
    return segment;
}

Vector Ours(void (*handler)()) { return {uint16_t(reinterpret_cast<uintptr_t>(handler)), CodeSegment()}; }

}  // namespace

void InstallBreakHandlers() {
    if (installed) return;
    dosBreak = GetVector(kBreakVector);
    dosCriticalError = GetVector(kCriticalErrorVector);
    SetVector(kBreakVector, Ours(dos16_on_break));
    SetVector(kCriticalErrorVector, Ours(dos16_on_critical_error));
    installed = true;
}

void RemoveBreakHandlers() {
    if (!installed) return;
    SetVector(kBreakVector, dosBreak);
    SetVector(kCriticalErrorVector, dosCriticalError);
    installed = false;
}

bool BreakHandlersInstalled() { return installed; }

// Function 0Bh looks at the keyboard for Ctrl-C (and a pending Ctrl-Break)
// whatever BREAK is set to, so a long copy that makes no console call still
// sees one.
bool BreakRequested() {
    if (installed && !dos16_break_flag) {
        DosRegisters r;
        r.ax = 0x0B00;
        CallDos(r);
    }
    return dos16_break_flag != 0;
}

}  // namespace dos16
