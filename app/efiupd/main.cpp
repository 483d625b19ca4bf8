// UPDATE.EFI: the DOS updater in the UEFI shell. The shell's arguments are
// the updater's switches; its exit code is the application's status, which
// the shell shows in %lasterror% (14 as 0xE).
#include "dos/dos_updater.h"
#include "platform/uefi/dos_platform_uefi.h"
#include "platform/uefi/runtime.h"

namespace {
// The shell's status for a program that cannot run outside it.
constexpr uefi::Status kUnsupported = uefi::kErrorBit | 3;
}  // namespace

extern "C" uefi::Status efi_main(uefi::Handle image, uefi::SystemTable *system) {
    uefi::Firmware &machine = uefi::Start(image, system);
    if (!machine.Shell) {
        system->ConOut->OutputString(system->ConOut, u"UPDATE.EFI runs in the UEFI shell.\r\n");
        return kUnsupported;
    }
    fwpack::UefiPlatform platform;
    const uefi::Arguments args = uefi::ShellArguments();
    // Beyond what a DOS command line could hold by far; a switch left out
    // (such as /noreboot) would change the run, so none is.
    if (!args.Complete) {
        platform.DosConsole::Write("The command line has too many or too long arguments.\n");
        return uefi::Status(fwpack::dos_exit::BadSwitch);
    }
    return uefi::Status(fwpack::DosUpdaterMain(args.Count, args.Values, platform));
}
