// Stand-in ME information tool: records its command line and prints what
// the updater reads from me.log. MEINFO_MODE=nolog removes me.log, nofw
// prints no version; ME_CURRENT is the version it reports.
#include "tests/dosprog/standin.h"

extern "C" int main(int argc, char **argv) {
    standin::RecordCall("meinfo.exe", argc, argv);
    char mode[16], version[32];
    const char *m = standin::Order("MEINFO_MODE", "version", mode, sizeof mode);
    if (m[0] == 'n' && m[1] == 'o' && m[2] == 'l') {
        dos16::DeleteFile("ME.LOG");
    } else if (m[0] == 'n') {
        dos16::Print("ME information: no firmware version found\r\n");
    } else {
        dos16::Print("ME information tool\r\n");
        // The version starts at index 40 of the line.
        dos16::Printf("FW Version:%29s%s\r\n", "",
                      standin::Order("ME_CURRENT", "11.8.50.3400", version, sizeof version));
    }
    return 0;
}
