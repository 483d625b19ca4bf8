// DOSUPD.EXE: the DOS updater on real-mode DOS. A package's DOS program is
// this one: it finds its resources in its own file, the package .exe.
#include "dos/dos_updater.h"
#include "platform/dos16/dos_platform_dos16.h"
#include "platform/dos16/runtime.h"

namespace {
// Static, so that the platform's buffers stay off the small DOS stack.
fwpack::Dos16Platform platform;
}  // namespace

// Ctrl-C, Ctrl-Break and critical errors end the run through its cleanup.
extern "C" int main(int argc, char **argv) {
    dos16::InstallBreakHandlers();
    const int code = fwpack::DosUpdaterMain(argc, argv, platform);
    dos16::RemoveBreakHandlers();
    return code;
}
