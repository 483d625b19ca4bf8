// Stand-in DOS flash program: records its command line; DOSFLASH_EXIT is
// its exit code. With DOSFLASH_WAIT set it says "flashing, press a key" on
// the screen (standard error, which "> file" leaves alone) and waits for a
// key first (DOS's read checks for Ctrl-C and Ctrl-Break), so that a test
// can break into a running flash program.
#include "tests/dosprog/standin.h"

constexpr int kStandardError = 2;

extern "C" int main(int argc, char **argv) {
    standin::RecordCall("dosflash.exe", argc, argv);
    char value[16];
    if (dos16::GetEnvironment("DOSFLASH_WAIT", value, sizeof value) >= 0) {
        const char text[] = "flashing, press a key\r\n";
        dos16::WriteFile(kStandardError, text, sizeof text - 1);
        dos16::ReadKey();
        standin::AppendText("CALLS.LOG", "dosflash.exe ended\r\n");
    }
    return standin::Number(standin::Order("DOSFLASH_EXIT", "0", value, sizeof value));
}
