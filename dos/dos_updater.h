// The DOS updater run: switches, filler file, tag scan of the program's own
// file, unpacking, image checks, identity and version checks, the BIOS and
// ME flash with the unpacked DOS tools (run by the platform, on DOS by
// EXEC), cleanup and restart.
#pragma once

#include "platform/dos_platform.h"

namespace fwpack {

// Exit codes of a run, one per outcome.
namespace dos_exit {
inline constexpr int Success = 0, BadSwitch = 1, WasteFile = 1, OwnFile = 2, TagsMissing = 3,
                     ToolOrBiosPackage = 4, MePackage = 6, BiosImageOpen = 7, BiosChecksum = 8,
                     SystemDiffers = 9, VersionNotNewer = 10, VersionFormat = 11,
                     UpdateDeclined = 12, BiosFlashFailed = 13, MeImageOpen = 14,
                     MeChecksum = 15, CurrentMeVersion = 16, NewMeVersion = 17,
                     RestartDeclinedMeSkipped = 18, MeFlashFailed = 19,
                     RestartDeclinedMeFlashed = 20,
                     // The reset was asked for and did not happen.
                     RestartFailed = 21,
                     Stopped = kBreakExitCode;
}

// Runs the updater with the command line's arguments; returns the exit code.
int DosUpdaterMain(int argc, const char *const *argv, DosPlatform &platform);

}  // namespace fwpack
