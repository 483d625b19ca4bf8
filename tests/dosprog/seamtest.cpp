// Drives the DOS updater's platform on DOS (Dos16Platform) under DOSBox for
// tests/e2e/dosbox: one command per run, results as "name=value" words.
//   run FILE   run the command line held in FILE's first line as the
//              updater runs its tools; its exit code is also ours
//   keys       keys as the updater reads them, until the end of input
//   files      a 34,000-byte file written in one call and read back,
//              its length (the position kept), a seek, exists and remove
//   own        the program's own file: its length
//   switches ARGS...  the updater's switches read from ARGS (the help text
//              or the complaint printed); 0 to run, 1 bad, 2 help
//   scan       the tags in the program's own file (a package built with
//              fwpack build --dos-stub SEAMTEST.EXE), as the updater scans
#include "dos/dos_switches.h"
#include "dos/tag_scan.h"
#include "payload/dos_limits.h"
#include "platform/dos16/dos_platform_dos16.h"
#include "platform/dos16/runtime.h"

using namespace fwpack;

extern "C" int strcmp(const char *a, const char *b);

namespace {

// Past the 32 KiB the layer moves per DOS call; the program's data segment
// holds no second copy, so it is read back in pieces and compared with the
// pattern.
constexpr size_t kBig = 34000;
uint8_t bytes[kBig], back[1000];

uint8_t Pattern(size_t i) { return uint8_t(i * 7 + i / 251); }
Dos16Platform platform;

int Run(const char *file) {
    char line[300] = {};
    DosFile f = platform.Files().OpenForReading(file);
    if (f == kNoFile) return 1;
    size_t n = platform.Files().Read(f, reinterpret_cast<uint8_t *>(line), sizeof line - 1);
    platform.Files().Close(f);
    for (size_t i = 0; i < n; ++i)
        if (line[i] == '\r' || line[i] == '\n') line[i] = '\0';
    int code = platform.RunCommand(line);
    dos16::Printf("exit=%d\r\n", code);
    return code;
}

int Keys() {
    for (int i = 0; i < 20; ++i) {
        int key = platform.ReadKey();
        if (key == kEndOfInput) {
            dos16::Print("end\r\n");
            return 0;
        }
        dos16::Printf("key=%d\r\n", key);
    }
    return 1;
}

int Files() {
    DosFiles &files = platform.Files();
    for (size_t i = 0; i < kBig; ++i) bytes[i] = Pattern(i);
    DosFile out = files.CreateForWriting("SEAM.DAT");
    size_t written = files.Write(out, bytes, kBig);
    bool closed = files.Close(out);
    DosFile in = files.OpenForReading("SEAM.DAT");
    uint32_t length = 0;
    bool told = files.Length(in, length);
    // From the start: Length kept the position.
    size_t read = 0, same = 0;
    for (size_t got; (got = files.Read(in, back, sizeof back)) > 0; read += got)
        for (size_t i = 0; i < got; ++i) same += back[i] == Pattern(read + i);
    uint8_t last = 0;
    bool sought = files.Seek(in, kBig - 1) && files.Read(in, &last, 1) == 1;
    size_t past = files.Read(in, back, 10);   // at the end: nothing
    files.Close(in);
    bool existed = files.Exists("SEAM.DAT");
    bool removed = files.Remove("SEAM.DAT");
    dos16::Printf("written=%u closed=%d told=%d length=%u read=%u same=%u sought=%d last=%u past=%u "
                  "existed=%d removed=%d exists=%d missing=%d\r\n",
                  unsigned(written), closed, told, unsigned(length), unsigned(read), unsigned(same),
                  sought, unsigned(last), unsigned(past), existed, removed,
                  files.Exists("SEAM.DAT"), files.OpenForReading("NOSUCH.DAT") == kNoFile);
    return 0;
}

int Own() {
    DosFile self = platform.OpenOwnFile();
    uint32_t length = 0;
    bool told = self != kNoFile && platform.Files().Length(self, length);
    dos16::Printf("own=%d length=%u\r\n", told, unsigned(length));
    return 0;
}

int Switches(int argc, const char *const *argv) {
    DosSwitches sw;
    SwitchResult r = ParseDosSwitches(argc, argv, sw, platform);
    dos16::Printf("\r\nfactory=%d forceit=%d forcetype=%d nopause=%d noreboot=%d debug=%d\r\n",
                  sw.Factory, sw.ForceIt, sw.ForceType, sw.NoPause, sw.NoReboot, sw.Debug);
    return r == SwitchResult::Run ? 0 : r == SwitchResult::Bad ? 1 : 2;
}

int Scan() {
    DosFile self = platform.OpenOwnFile();
    uint32_t size = 0;
    if (self == kNoFile || !platform.Files().Length(self, size)) return 1;
    TagScanner scanner(platform.Files(), self, long(size), bytes, sizeof bytes);
    unsigned count = 0;
    uint16_t id = 0;
    for (long at = 0; (at = scanner.FindTag(at, long(size - kDosScanMargin), &id)) >= 0; ++at, ++count)
        dos16::Printf("tag%u=%u@%u\r\n", count, unsigned(id), unsigned(at));
    platform.Files().Close(self);
    dos16::Printf("count=%u\r\n", count);
    return 0;
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "run") == 0) return Run(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "keys") == 0) return Keys();
    if (argc >= 2 && strcmp(argv[1], "files") == 0) return Files();
    if (argc >= 2 && strcmp(argv[1], "own") == 0) return Own();
    if (argc >= 2 && strcmp(argv[1], "switches") == 0) return Switches(argc - 1, argv + 1);
    if (argc >= 2 && strcmp(argv[1], "scan") == 0) return Scan();
    dos16::Print("usage: SEAMTEST run FILE | keys | files | own | switches ARGS | scan\r\n");
    return 3;
}
