// A key without echo (INT 21h AH=08h), which also reads redirected input.
// When standard input is a file DOS never reports its end to AH=08h (it
// hands back the last byte again), so the input status is asked first.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

constexpr uint16_t kStandardInput = 0;
constexpr uint32_t kIsDevice = 0x80;

bool InputIsFileAtEnd() {
    DosRegisters info;
    info.ax = 0x4400;  // device information
    info.bx = kStandardInput;
    if (CallDos(info) || (info.dx & kIsDevice))
        return false;
    DosRegisters status;
    status.ax = 0x4406;  // input status: AL = 0 at the end of a file
    status.bx = kStandardInput;
    return !CallDos(status) && (status.ax & 0xFF) == 0;
}

}  // namespace

int ReadKey() {
    if (InputIsFileAtEnd())
        return kEndOfInput;
    DosRegisters r;
    r.ax = 0x0800;
    CallDos(r);
    return int(r.ax & 0xFF);
}

}  // namespace dos16
