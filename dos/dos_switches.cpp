#include "dos/dos_switches.h"

#include "platform/dos_platform.h"

namespace fwpack {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// prefix is in lower case.
bool StartsWithNoCase(const char *arg, const char *prefix) {
    for (; *prefix; ++arg, ++prefix)
        if (Lower(*arg) != *prefix) return false;   // the end of arg differs too
    return true;
}
bool EqualsNoCase(const char *arg, const char *word) {
    while (*word && Lower(*arg) == *word) ++arg, ++word;
    return *arg == '\0' && *word == '\0';
}

constexpr const char *kHelpLines[] = {
    " 1) /Factory    A combination of no pause, no reboot, and no overwrite",
    " 2) /ForceIt    Will ignore the block that halts flashing the same version",
    " 3) /ForceType  Will ignore the block that halts flashing an incorrect system",
    " 4) /NoPause    Will not pause for user interaction",
    " 5) /NoReboot   Will update the NVRAM but will not reboot the system",
};

}  // namespace

SwitchResult ParseDosSwitches(int argc, const char *const *argv, DosSwitches &out,
                              DosConsole &console) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (EqualsNoCase(arg, "/factory")) out.Factory = true;
        else if (EqualsNoCase(arg, "/forceit")) out.ForceIt = true;
        else if (EqualsNoCase(arg, "/forcetype")) out.ForceType = true;
        else if (EqualsNoCase(arg, "/nopause")) out.NoPause = true;
        else if (EqualsNoCase(arg, "/noreboot")) out.NoReboot = true;
        else if (StartsWithNoCase(arg, "/debug") || StartsWithNoCase(arg, "/dbg")) out.Debug = true;
        else if (StartsWithNoCase(arg, "/?") || StartsWithNoCase(arg, "/help")) {
            console.Write("\n");
            for (const char *line : kHelpLines) {
                console.Write(line);
                console.Write("\n");
            }
            return SwitchResult::Help;
        } else {
            console.Write("\nThe command line parameter is not correct.");
            return SwitchResult::Bad;
        }
    }
    return SwitchResult::Run;
}

}  // namespace fwpack
