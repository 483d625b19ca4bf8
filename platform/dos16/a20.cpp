#include "platform/dos16/a20.h"

#include "platform/dos16/ports.h"

namespace dos16 {
namespace {

// A byte of the BIOS data area (the print-screen status) and its alias
// 1 MiB higher, written only with interrupts off and put back at once.
constexpr uint16_t kLowSegment = 0x0000, kLowOffset = 0x0500;
constexpr uint16_t kHighSegment = 0xFFFF, kHighOffset = 0x0510;
// How often a method's result is tested: the keyboard controller's gate
// takes a moment to switch.
constexpr int kSettleTests = 1000;

bool SettlesOn() {
    for (int i = 0; i < kSettleTests; ++i)
        if (A20IsOn())
            return true;
    return false;
}

// The XMS driver owns A20 where one is loaded: its "local enable" (AH=05h).
bool EnableThroughXms() {
    uint32_t installed = 0x4300;
    asm volatile("int $0x2F" : "+a"(installed) : : "memory");
    if ((installed & 0xFF) != 0x80)
        return false;
    uint16_t entry[2];
    uint32_t ax = 0x4310, bx = 0;
    asm volatile("pushw %%es\n\tint $0x2F\n\tmovw %%es, %%cx\n\tpopw %%es"
                 : "+a"(ax), "+b"(bx), "=c"(entry[1])
                 :
                 : "memory");
    entry[0] = uint16_t(bx);
    uint32_t result = 0x0500;
    asm volatile("lcallw *%1" : "+a"(result) : "m"(entry) : "ebx", "memory");
    return (result & 0xFFFF) == 1;
}

bool EnableThroughBios() {
    bool failed;
    uint32_t ax = 0x2401;
    asm volatile("int $0x15" : "=@ccc"(failed), "+a"(ax) : : "memory");
    return !failed;
}

// The controller's output port, bit 1: command D1h, then the port's new
// value (DFh: A20 on, the reset line left alone).
void EnableThroughKeyboardController() {
    const uint32_t flags = DisableInterrupts();
    WaitForControllerInput();
    OutPort(0x64, 0xD1);
    WaitForControllerInput();
    OutPort(0x60, 0xDF);
    WaitForControllerInput();
    RestoreInterrupts(flags);
}

// Bit 1 of the system control port; bit 0 would reset the machine.
void EnableThroughFastGate() { OutPort(0x92, uint8_t((InPort(0x92) | 0x02) & 0xFE)); }

}  // namespace

bool A20IsOn() {
    const uint32_t flags = DisableInterrupts();
    const uint8_t low = ReadRealByte(kLowSegment, kLowOffset);
    const uint8_t high = ReadRealByte(kHighSegment, kHighOffset);
    WriteRealByte(kLowSegment, kLowOffset, uint8_t(~high));
    const bool on = ReadRealByte(kHighSegment, kHighOffset) == high;
    WriteRealByte(kLowSegment, kLowOffset, low);
    RestoreInterrupts(flags);
    return on;
}

bool EnableA20() {
    if (A20IsOn())
        return true;
    if (EnableThroughXms() && SettlesOn())
        return true;
    if (EnableThroughBios() && SettlesOn())
        return true;
    EnableThroughKeyboardController();
    if (SettlesOn())
        return true;
    EnableThroughFastGate();
    return SettlesOn();
}

}  // namespace dos16
