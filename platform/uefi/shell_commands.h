// Running a tool's command line through the shell (its Execute), with the
// tool's exit status. The shell carries out the command line as typed, a
// trailing "> file" included (it writes such a file as UCS-2 with a
// byte-order mark).
#pragma once
#include "platform/uefi/uefi_files.h"

namespace fwpack {

// Names of the helper script and its status file, made and removed in the
// current folder while a script tool runs.
inline constexpr char kScriptRunnerName[] = "FWPKRUN.NSH";
inline constexpr char kScriptStatusName[] = "FWPKRUN.LOG";

// The tool's status: 0 success; a status up to 0x7FFFFFFF as it stands;
// a firmware error status (top bit set) 255. kCommandAborted when the
// program is neither a script nor a UEFI application for this machine,
// when the shell could not run the command line at all, or when a
// script's status could not be learnt.
int RunShellCommand(const char *commandLine, UefiFiles &files);

// The value of the status file's text ("0x" and hex digits, as the shell
// prints %lasterror%, in UCS-2 after a byte-order mark or in bytes); false
// when it holds none.
bool ReadStatusText(const uint8_t *bytes, size_t size, uint64_t &status);

}  // namespace fwpack
