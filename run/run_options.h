// Run options: the option word, its switches and their booleans.
#pragma once
#include <string_view>

#include "run/run_state.h"

namespace fwpack {

// Sets Factory, ForceIt, NoPause and NoReboot for each of the bits 0x4, 0x8,
// 0x20 and 0x40 of word that is set; a clear bit changes nothing.
void ApplyOptionFlags(RunOptions &options, uint32_t word);

// Parses the argument part of the command line (without the program name).
// Sets the booleans of the switches it recognises, in order; true when the
// whole text is valid. Stops at the first invalid item (switches before it
// stay set). Besides the five switches of the option word it takes the
// admin's "/log=PATH" (the path ends at the first space or tab unless it is
// quoted: /log="C:\my logs\run.log") and "/exitcodes".
bool ParseCommandLine(RunOptions &options, std::string_view text);

// The admin's switches of an argument text, read before start-up checks
// the command line as a whole (the log and the exit codes serve the checks'
// own failures too): LogPath and ExitCodes, nothing else set.
RunOptions AdminSwitches(std::string_view text);

// ORs the switch bits into the option word: 0x8 ForceIt, 0x20 NoPause,
// 0x40 NoReboot, 0x20000 DebugBoxes. Never clears a bit.
void PackOptionWord(RunOptions &options);

}  // namespace fwpack
