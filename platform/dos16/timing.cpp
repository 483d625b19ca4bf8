// Delays and the speaker. A delay is the BIOS wait (INT 15h AH=86h); where
// the BIOS lacks it, the BIOS tick count (18.2 per second) is polled. The
// tone is the timer's channel 2 gated onto the speaker through port 0x61.
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

constexpr uint32_t kTimerHertz = 1193182;
constexpr uint16_t kBiosDataSegment = 0x40, kTickCountOffset = 0x6C;

// The BIOS answers in AH (and may change AL); CX and DX are declared
// changed too, as some BIOSes return the remainder in them.
bool BiosWait(uint32_t microseconds) {
    bool failed;
    uint32_t ax = 0x8600u, cx = microseconds >> 16, dx = microseconds & 0xFFFF;
    asm volatile("int $0x15"
                 : "=@ccc"(failed), "+a"(ax), "+c"(cx), "+d"(dx)
                 :
                 : "memory");
    return !failed;
}

uint16_t Ticks() { return ReadRealWord(kBiosDataSegment, kTickCountOffset); }

void TickWait(uint32_t milliseconds) {
    uint32_t ticks = (milliseconds * 10 + 548) / 549;  // 54.9 ms per tick
    uint16_t last = Ticks();
    while (ticks) {
        uint16_t now = Ticks();
        if (now != last) {
            --ticks;
            last = now;
        }
    }
}

}  // namespace

void Delay(uint32_t milliseconds) {
    // At most about 71 minutes in one call (32-bit microseconds).
    while (milliseconds) {
        uint32_t part = milliseconds > 1000000 ? 1000000 : milliseconds;
        if (!BiosWait(part * 1000))
            TickWait(part);
        milliseconds -= part;
    }
}

void Beep(uint16_t hertz, uint32_t milliseconds) {
    if (hertz < 19)  // below this the divisor does not fit 16 bits
        hertz = 19;
    uint16_t divisor = uint16_t(kTimerHertz / hertz);
    OutPort(0x43, 0xB6);  // channel 2, both bytes, square wave
    OutPort(0x42, uint8_t(divisor));
    OutPort(0x42, uint8_t(divisor >> 8));
    uint8_t gate = InPort(0x61);
    OutPort(0x61, gate | 0x03);
    Delay(milliseconds);
    OutPort(0x61, gate & 0xFC);
}

}  // namespace dos16
