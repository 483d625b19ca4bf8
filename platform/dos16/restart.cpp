// The hardware reset: DOS's buffers flushed and the CMOS shutdown byte
// cleared, then the keyboard controller's pulse (command 0xFE), then the
// chipset's reset control register (port 0xCF9), then a jump to the reset
// vector, each tried only when the one before left the machine running.
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

// The BIOS reads the CMOS shutdown byte (0Fh) after a reset: a value a
// tool left there (a resume jump, a return from protected mode) would turn
// the reset into a jump elsewhere. 0 is an ordinary power-on start. Bit 7
// of the index keeps NMIs off while the index is set.
void ClearShutdownByte() {
    OutPort(0x70, 0x8F);
    OutPort(0x71, 0x00);
}

}  // namespace

void RestartMachine() {
    // What a disk cache holds goes to disk before the machine goes down.
    FlushBuffers();
    ClearShutdownByte();
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
