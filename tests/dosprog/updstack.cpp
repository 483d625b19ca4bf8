// The DOS updater as DOSUPD.EXE runs it, followed by one line that says
// how many bytes of its stack the run never touched: "stack_unused=N".
#include "dos/dos_updater.h"
#include "platform/dos16/dos_platform_dos16.h"
#include "platform/dos16/runtime.h"

namespace {
fwpack::Dos16Platform platform;
}  // namespace

extern "C" int main(int argc, char **argv) {
    dos16::InstallBreakHandlers();
    const int code = fwpack::DosUpdaterMain(argc, argv, platform);
    dos16::RemoveBreakHandlers();
    dos16::Printf("\r\nstack_unused=%u\r\n", uint32_t(dos16::StackUnused()));
    return code;
}
