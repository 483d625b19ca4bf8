// Stand-in ME update tool: records its command line; with MEUPD_ERROR set
// it leaves an error.log, as the real tool does when it fails.
#include "tests/dosprog/standin.h"

extern "C" int main(int argc, char **argv) {
    standin::RecordCall("meupd.exe", argc, argv);
    char value[16];
    if (dos16::GetEnvironment("MEUPD_ERROR", value, sizeof value) >= 0)
        standin::AppendText("ERROR.LOG", "update failed\r\n");
    return 0;
}
