// Start-up: everything the user-interface thread does while the dialog
// initialises, before the start timer creates the worker.
#pragma once
#include <string>
#include <string_view>

#include "dialog/dialog_context.h"

namespace fwpack {

inline constexpr const char *kInstanceMutexName = "Vorsa BIOS Brenvik";

enum class StartupResult {
    Ready,   // the start timer is armed
    Exit,    // a check failed and its box was dismissed: end the process, status 0
};

// The initialisation sequence of the dialog, after the dialog's own set-up:
// ResultLog, single instance, centring, instance handle, icons, title,
// browse icon, options, default destination, visibility, command line,
// start timer.
StartupResult RunStartupSequence(DialogContext &context);

// The window title for a program file: the path as a 200-byte buffer holds
// it, reduced to the part after the last backslash and cut at its last ".";
// a name without "." is kept whole.
std::string WindowTitleFor(std::string_view modulePath);

// The argument text of a whole command line, as the runtime's start-up leaves
// it: a program name that begins with a quotation mark runs to the closing
// one, any other to the first character at or below the space; the
// characters at or below the space after the name are skipped too.
std::string_view ArgumentText(std::string_view commandLine);

}  // namespace fwpack
