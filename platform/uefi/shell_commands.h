// Running a tool's command line through the shell (its Execute), with the
// tool's exit status. The shell carries out the command line as typed, a
// trailing "> file" included (it writes such a file as UCS-2 with a
// byte-order mark).
#pragma once
#include "platform/uefi/uefi_files.h"

namespace fwpack {

// The tool's status: 0 success; a status up to 0x7FFFFFFF as it stands;
// a firmware error status (top bit set) 255. kCommandAborted when the
// program is neither a script nor a UEFI application for this machine,
// when the shell could not run the command line at all, or when a
// script's status could not be learnt.
int RunShellCommand(const char *commandLine, UefiFiles &files);

}  // namespace fwpack
