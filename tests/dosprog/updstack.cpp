// The DOS updater as DOSUPD.EXE runs it, followed by two lines: how many
// bytes of its stack the run never touched, "stack_unused=N", and how much
// conventional memory the program's blocks take at its end (PSP and
// program, environment, transfer buffer, each with its DOS header),
// "memory_in_use=N".
#include "dos/dos_updater.h"
#include "platform/dos16/dos_platform_dos16.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

namespace {
fwpack::Dos16Platform platform;

// DOS's memory blocks form a chain of 16-byte headers ('M', or 'Z' for the
// last; the owner's PSP at 1; the size in paragraphs at 3). Its first
// header's segment is the word before the list DOS's AH=52h points at.
uint32_t MemoryInUse() {
    uint32_t es = 0, bx = 0;
    asm volatile("pushw %%es\n\tmovb $0x52, %%ah\n\tint $0x21\n\tmovw %%es, %%ax\n\tpopw %%es"
                 : "=a"(es), "=b"(bx)
                 :
                 : "memory");
    uint16_t block = dos16::ReadRealWord(uint16_t(es), uint16_t(bx - 2));
    const uint16_t psp = dos16::PspSegment();
    uint32_t bytes = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        const uint8_t kind = dos16::ReadRealByte(block, 0);
        const uint16_t paragraphs = dos16::ReadRealWord(block, 3);
        if (dos16::ReadRealWord(block, 1) == psp) bytes += 16 * (uint32_t(paragraphs) + 1);
        if (kind != 'M') break;
        block = uint16_t(block + paragraphs + 1);
    }
    return bytes;
}
}  // namespace

extern "C" int main(int argc, char **argv) {
    dos16::InstallBreakHandlers();
    const int code = fwpack::DosUpdaterMain(argc, argv, platform);
    dos16::RemoveBreakHandlers();
    dos16::Printf("\r\nstack_unused=%u\r\nmemory_in_use=%u\r\n", uint32_t(dos16::StackUnused()),
                  MemoryInUse());
    return code;
}
