// A key without echo (INT 21h AH=08h), which also reads redirected input.
// When standard input is a file DOS never reports its end to AH=08h (it
// hands back the last byte again), so the input status is asked first.
// From the keyboard the program waits by asking the status (AH=0Bh), which
// also lets DOS see Ctrl-C and Ctrl-Break, so that a break ends the wait
// instead of DOS starting the read again; a key of two bytes is read whole.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

constexpr uint16_t kStandardInput = 0;
constexpr uint32_t kIsDevice = 0x80;

// Whether standard input is a device (the keyboard, as a rule) and not a file.
bool InputIsDevice() {
    DosRegisters info;
    info.ax = 0x4400;  // device information
    info.bx = kStandardInput;
    return !CallDos(info) && (info.dx & kIsDevice);
}

bool InputIsFileAtEnd() {
    if (InputIsDevice())
        return false;
    DosRegisters status;
    status.ax = 0x4406;  // input status: AL = 0 at the end of a file
    status.bx = kStandardInput;
    return !CallDos(status) && (status.ax & 0xFF) == 0;
}

bool KeyWaiting() {
    DosRegisters r;
    r.ax = 0x0B00;
    CallDos(r);
    return (r.ax & 0xFF) != 0;
}

// Gives the time to others (DOS's idle call) while nothing happens.
void Idle() { asm volatile("int $0x28" ::: "memory"); }

int ReadByte() {
    DosRegisters r;
    r.ax = 0x0800;
    CallDos(r);
    return int(r.ax & 0xFF);
}

}  // namespace

int ReadKey() {
    if (InputIsFileAtEnd())
        return kEndOfInput;
    if (!InputIsDevice())
        return ReadByte();
    while (!KeyWaiting()) {
        if (BreakHandlersInstalled() && BreakRequested())
            return kBreakPressed;
        Idle();
    }
    if (BreakHandlersInstalled() && BreakRequested())
        return kBreakPressed;
    const int key = ReadByte();
    return key != 0 ? key : kExtendedKey | ReadByte();
}

void DiscardTypeAhead() {
    if (!InputIsDevice())
        return;
    DosRegisters r;
    r.ax = 0x0C00;  // empty the keyboard buffer, read nothing
    CallDos(r);
}

}  // namespace dos16
