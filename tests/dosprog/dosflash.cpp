// Stand-in DOS flash program: records its command line; DOSFLASH_EXIT is
// its exit code.
#include "tests/dosprog/standin.h"

extern "C" int main(int argc, char **argv) {
    standin::RecordCall("dosflash.exe", argc, argv);
    char value[16];
    return standin::Number(standin::Order("DOSFLASH_EXIT", "0", value, sizeof value));
}
