// The hardware reset: the keyboard controller's pulse (command 0xFE), then
// the chipset's reset control register (port 0xCF9), then a jump to the
// reset vector, each tried only when the one before left the machine running.
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

void WaitForControllerInput() {
    for (int i = 0; i < 100000 && (InPort(0x64) & 0x02); ++i) {
    }
}

}  // namespace

void RestartMachine() {
    WaitForControllerInput();
    OutPort(0x64, 0xFE);
    Delay(100);
    OutPort(0xCF9, 0x02);  // hard reset selected, then started
    OutPort(0xCF9, 0x06);
    Delay(100);
    asm volatile("cli\n\tljmpw $0xFFFF, $0x0000");
    __builtin_unreachable();
}

}  // namespace dos16
