// The A20 address line: while it is off, bit 20 of every address is 0, so
// a read above 1 MiB returns the byte 1 MiB lower.
#pragma once

namespace dos16 {

// The wrap-around test: a byte written at 0000:0500 that also shows at
// FFFF:0510 (1 MiB higher) means A20 is off.
bool A20IsOn();
// Turns A20 on where the test finds it off: the XMS driver when one is
// loaded, the BIOS (INT 15h AX=2401h), the keyboard controller, then the
// fast gate (port 0x92). True when the test then finds it on.
bool EnableA20();

}  // namespace dos16
