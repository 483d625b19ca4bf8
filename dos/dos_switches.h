// The DOS updater's command-line switches.
#pragma once

namespace fwpack {

class DosConsole;

struct DosSwitches {
    bool Factory = false, ForceIt = false, ForceType = false, NoPause = false,
         NoReboot = false, Debug = false;
};

enum class SwitchResult { Run, Help, Bad };

// Reads argv[1..] in order, case-insensitively. "/?" and "/help" (prefixes)
// print the help text and end the reading; an unknown switch prints its
// message and ends it. The caller exits with 0 for Help and 1 for Bad.
SwitchResult ParseDosSwitches(int argc, const char *const *argv, DosSwitches &out,
                              DosConsole &console);

}  // namespace fwpack
