// Stand-in DOS flash program: records its command line; DOSFLASH_EXIT is
// its exit code. With DOSFLASH_WAIT set it says "flashing, press a key" on
// the screen (standard error, which "> file" leaves alone) and waits for a
// key first (DOS's read checks for Ctrl-C and Ctrl-Break), so that a test
// can break into a running flash program. With DOSFLASH_FCB set it writes
// the name DOS put in its first file control block (PSP:5Ch) to FCB.LOG as
// "NAME    EXT"; DOSFLASH_END=resident ends it by staying resident.
#include "platform/dos16/ports.h"
#include "tests/dosprog/standin.h"

namespace {

constexpr int kStandardError = 2;

void RecordFirstFcb() {
    char line[16] = {};
    for (uint16_t i = 0; i < 11; ++i)
        line[i] = char(dos16::ReadRealByte(dos16::PspSegment(), uint16_t(0x5D + i)));
    standin::AppendText("FCB.LOG", line);
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    standin::RecordCall("dosflash.exe", argc, argv);
    char value[16];
    if (dos16::GetEnvironment("DOSFLASH_FCB", value, sizeof value) >= 0)
        RecordFirstFcb();
    if (dos16::GetEnvironment("DOSFLASH_WAIT", value, sizeof value) >= 0) {
        const char text[] = "flashing, press a key\r\n";
        dos16::WriteFile(kStandardError, text, sizeof text - 1);
        dos16::ReadKey();
        standin::AppendText("CALLS.LOG", "dosflash.exe ended\r\n");
    }
    const char *end = standin::Order("DOSFLASH_END", "", value, sizeof value);
    if (end[0] == 'r')
        asm volatile("int $0x21" : : "a"(0x3100), "d"(0x20));   // keeps 512 bytes
    return standin::Number(standin::Order("DOSFLASH_EXIT", "0", value, sizeof value));
}
