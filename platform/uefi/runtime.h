// The UEFI runtime: what the firmware handed the application at its entry,
// the shell's interfaces, the start-up (static objects constructed) and
// the text conversions between the updater's bytes and the firmware's
// UCS-2.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/uefi/uefi_tables.h"

namespace uefi {

struct Firmware {
    Handle Image = nullptr;
    SystemTable *System = nullptr;
    BootServicesTable *Boot = nullptr;
    // Null when the program was not started by the UEFI shell.
    ShellProtocol *Shell = nullptr;
    ShellParameters *Parameters = nullptr;
};

// Called first by efi_main: keeps the entry's handles, constructs the
// static objects and finds the shell; the firmware's watchdog (which
// resets the machine after five minutes of a running application) is
// switched off, since a flash can take longer.
Firmware &Start(Handle image, SystemTable *system);
// What Start found.
Firmware &Machine();

// The shell's arguments as the updater's byte strings (UCS-2 above 0xFF
// becomes '?'). argc is 0 without the shell. Complete is false when they
// did not all fit: the run must not go on without one of its switches.
struct Arguments {
    int Count;
    const char *const *Values;
    bool Complete;
};
Arguments ShellArguments();

// The updater's bytes as UCS-2 (each byte its own code, Latin-1) with a
// NUL; false when out (room units) cannot hold them all.
bool ToUcs2(const char *text, size_t length, Char16 *out, size_t room);
bool ToUcs2(const char *text, Char16 *out, size_t room);
// One UCS-2 unit as a byte: above 0xFF is '?'.
inline char ToByte(Char16 unit) { return unit > 0xFF ? '?' : char(unit); }

}  // namespace uefi
