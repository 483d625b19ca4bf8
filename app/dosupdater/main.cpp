// dosupdater: the DOS updater on the Linux platform layer. A Linux package
// is this program followed by the four tagged resources.
#include "dos/dos_updater.h"
#include "platform/posix/dos_platform_linux.h"

int main(int argc, char **argv) {
    fwpack::LinuxDosPlatform platform;
    platform.CatchStopSignals();
    return fwpack::DosUpdaterMain(argc, argv, platform);
}
