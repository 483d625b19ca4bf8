// Drives the DOS runtime under DOSBox for tests/e2e/dosbox: one command per
// run, results printed as "name=value" words that the host checks.
//   files IN OUT    copy IN to OUT in 4 KiB pieces; size, a sought byte,
//                   and a created file's existence before and after delete
//   inflate IN OUT  inflate a zlib stream (window bits 10) from IN into OUT
//   keys            key codes until the end of input (at most 20)
//   exec PROG ARGS  run PROG directly; its exit code is also ours
//   run PROG OUT ARGS  run a tool (a .BAT through COMSPEC), its output to
//                   OUT ("-": not redirected)
//   env NAME        the variable's value and the program's own path
//   flat            BIOS bytes through flat real mode and through F000h
//   firmware ADDR N [bios]  N bytes (at most 32) from hexadecimal ADDR as
//                   the updater reads the firmware (FWPACK_FIRMWARE_DUMP,
//                   flat, or with "bios" the BIOS block move)
//   bios            the BIOS segment through the BIOS block move and the
//                   real-mode way, and the reset vector's 5 bytes
//   a20             A20 turned off at the fast gate, found off, turned on
//   restart         request a hardware reset
//   stack N         take about N bytes of stack, then end (the end checks
//                   the stack's guard)
//   far IN OUT      copy IN to OUT through the updater's transfer buffer
//                   (51,200 bytes beyond the data segment), then add 100
//                   bytes of 0xA5 filled there; where the block lies
#include "platform/dos16/dos_platform_dos16.h"
#include "platform/dos16/firmware_reader.h"
#include "platform/dos16/flat_memory.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"
#include "tests/dosprog/bios_compare.h"
#include "tests/dosprog/inflate_file.h"

using namespace dos16;
using dosprog::Fail;

extern "C" int strcmp(const char *a, const char *b);
extern "C" const uint8_t __stack_top[];

namespace {

uint8_t in[4096], out[4096];
uint8_t arenaMemory[12 * 1024];

int Files(const char *from, const char *to) {
    int32_t src = OpenFile(from, OpenMode::Read), dst = CreateFile(to);
    if (src < 0 || dst < 0)
        return Fail("open", src < 0 ? src : dst);
    int32_t n;
    while ((n = ReadFile(int(src), in, sizeof in)) > 0)
        if (WriteFile(int(dst), in, uint16_t(n)) != n)
            return Fail("write", n);
    int32_t size = SeekFile(int(src), 0, SeekFrom::End);
    SeekFile(int(src), 1000, SeekFrom::Start);
    uint8_t byte = 0;
    ReadFile(int(src), &byte, 1);
    CloseFile(int(src));
    CloseFile(int(dst));
    int32_t scratch = CreateFile("SCRATCH.TMP");
    CloseFile(int(scratch));
    bool before = FileExists("SCRATCH.TMP");
    DeleteFile("SCRATCH.TMP");
    Printf("size=%d byte1000=%u exists=%d,%d\r\n", size, byte, before, FileExists("SCRATCH.TMP"));
    return 0;
}

int Inflate(const char *from, const char *to) {
    return dosprog::InflateFile(from, to, {in, sizeof in}, {out, sizeof out},
                                {arenaMemory, sizeof arenaMemory});
}

int Far(const char *from, const char *to) {
    constexpr size_t kTransferSize = 51200;
    fwpack::Dos16TransferBuffer buffer;
    if (!buffer.Allocate(kTransferSize))
        return Fail("allocate", 0);
    // One segment holds the block: more than 64 KiB is refused.
    const bool tooLargeRefused = !fwpack::Dos16TransferBuffer().Allocate(0x10000);
    int32_t src = OpenFile(from, OpenMode::Read), dst = CreateFile(to);
    if (src < 0 || dst < 0)
        return Fail("open", src < 0 ? src : dst);
    size_t n, total = 0;
    while ((n = buffer.ReadFrom(int(src), kTransferSize)) > 0) {
        if (buffer.WriteTo(int(dst), n) != n)
            return Fail("write", int32_t(n));
        total += n;
    }
    buffer.Fill(0xA5, 100);
    total += buffer.WriteTo(int(dst), 100);
    CloseFile(int(src));
    CloseFile(int(dst));
    const uint32_t dataEnd = DataSegment() + (reinterpret_cast<uintptr_t>(__stack_top) + 15) / 16;
    Printf("copied=%u segment=%04X data_end=%04X too_large_refused=%d\r\n", uint32_t(total),
           uint32_t(buffer.Segment()), dataEnd, tooLargeRefused);
    return 0;
}

// About bytes of stack, 256 bytes a call; the frames are written so that
// they really are taken.
uint32_t TakeStack(uint32_t bytes) {
    volatile uint8_t frame[240];
    for (uint32_t i = 0; i < sizeof frame; ++i)
        frame[i] = uint8_t(bytes + i);
    return bytes > 256 ? TakeStack(bytes - 256) + frame[0] : frame[1];
}

int Keys() {
    for (int i = 0; i < 20; ++i) {
        int key = ReadKey();
        if (key == kEndOfInput) {
            Print("end\r\n");
            return 0;
        }
        Printf("key=%d\r\n", key);
    }
    Print("no end of input\r\n");
    return 1;
}

// argv[first...] joined by spaces.
void JoinArguments(int argc, char **argv, int first, char *out, size_t capacity) {
    size_t n = 0;
    out[0] = 0;
    for (int i = first; i < argc && n < capacity; ++i)
        n += Format(out + n, capacity - n, i > first ? " %s" : "%s", argv[i]);
}

int Reported(int32_t code) {
    Printf("exit=%d\r\n", code);
    return code < 0 ? 255 : int(code);
}

int Exec(int argc, char **argv) {
    char tail[127];
    JoinArguments(argc, argv, 3, tail, sizeof tail);
    return Reported(Execute(argv[2], tail));
}

int RunWithOutput(int argc, char **argv) {
    char tail[127];
    JoinArguments(argc, argv, 4, tail, sizeof tail);
    const char *output = strcmp(argv[3], "-") == 0 ? nullptr : argv[3];
    return Reported(RunTool(argv[2], tail, output));
}

int Env(const char *name) {
    char value[64], path[80];
    int32_t v = GetEnvironment(name, value, sizeof value);
    int32_t p = OwnPath(path, sizeof path);
    Printf("value=%s path=%s\r\n", v >= 0 ? value : "(none)", p >= 0 ? path : "(none)");
    return 0;
}

int Flat() {
    if (LoadFSLimit4G() != FlatMode::Ready) {
        Print("flat real mode cannot be entered here\r\n");
        return 1;
    }
    // The whole BIOS segment, and the reset vector's first bytes.
    uint32_t differences = dosprog::BiosDifferences();
    uint8_t vector[5];
    for (uint32_t i = 0; i < sizeof vector; ++i)
        vector[i] = ReadFlatByte(0xFFFF0 + i);
    Printf("differences=%u vector=%02X%02X%02X%02X%02X\r\n", differences, vector[0], vector[1],
           vector[2], vector[3], vector[4]);
    return 0;
}

uint32_t ParseNumber(const char *text, uint32_t base) {
    uint32_t n = 0;
    for (; *text; ++text) {
        char c = char(*text | 0x20);
        uint32_t digit = c >= '0' && c <= '9' ? uint32_t(c - '0') : uint32_t(c - 'a' + 10);
        n = n * base + digit;
    }
    return n;
}

// The BIOS segment through the block move, against the real-mode reads,
// in pieces of 4 KiB and an odd one at the end.
int BiosBlockMove() {
    static uint8_t piece[4096];
    uint32_t differences = 0, failures = 0;
    for (uint32_t offset = 0; offset < 0x10000; offset += sizeof piece) {
        if (!ReadBlockMove(0xF0000 + offset, piece, sizeof piece)) {
            ++failures;
            continue;
        }
        for (uint32_t i = 0; i < sizeof piece; ++i)
            if (piece[i] != ReadRealByte(0xF000, uint16_t(offset + i)))
                ++differences;
    }
    FirmwareReader reader;
    reader.Open(true);
    uint8_t odd[5];
    reader.Read(0xFFFF0, odd, sizeof odd);
    Printf("differences=%u failures=%u vector=%02X%02X%02X%02X%02X\r\n", differences, failures,
           odd[0], odd[1], odd[2], odd[3], odd[4]);
    return 0;
}

// The wrap-around test with the fast gate closed, then after EnableA20.
int A20() {
    OutPort(0x92, uint8_t(InPort(0x92) & 0xFC));
    const bool offFound = !A20IsOn();
    const bool enabled = EnableA20();
    Printf("off_found=%d enabled=%d on=%d\r\n", offFound, enabled, A20IsOn());
    return 0;
}

int Firmware(const char *address, const char *count, bool throughBios) {
    uint8_t bytes[32];
    uint16_t n = uint16_t(ParseNumber(count, 10));
    if (n > sizeof bytes)
        n = sizeof bytes;
    FirmwareReader reader;
    reader.Open(throughBios);
    reader.Read(ParseNumber(address, 16), bytes, n);
    Printf("access=%d ", int(reader.Access()));
    reader.Close();
    Print("bytes=");
    for (uint16_t i = 0; i < n; ++i)
        Printf("%02X", bytes[i]);
    Print("\r\n");
    return 0;
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc >= 4 && strcmp(argv[1], "files") == 0)
        return Files(argv[2], argv[3]);
    if (argc >= 4 && strcmp(argv[1], "inflate") == 0)
        return Inflate(argv[2], argv[3]);
    if (argc >= 4 && strcmp(argv[1], "far") == 0)
        return Far(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "stack") == 0) {
        Printf("taken=%u\r\n", TakeStack(ParseNumber(argv[2], 10)) != 0);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "keys") == 0)
        return Keys();
    if (argc >= 3 && strcmp(argv[1], "exec") == 0)
        return Exec(argc, argv);
    if (argc >= 4 && strcmp(argv[1], "run") == 0)
        return RunWithOutput(argc, argv);
    if (argc >= 3 && strcmp(argv[1], "env") == 0)
        return Env(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "flat") == 0)
        return Flat();
    if (argc >= 4 && strcmp(argv[1], "firmware") == 0)
        return Firmware(argv[2], argv[3], argc >= 5 && strcmp(argv[4], "bios") == 0);
    if (argc >= 2 && strcmp(argv[1], "bios") == 0)
        return BiosBlockMove();
    if (argc >= 2 && strcmp(argv[1], "a20") == 0)
        return A20();
    if (argc >= 2 && strcmp(argv[1], "restart") == 0) {
        Print("restarting\r\n");
        RestartMachine();
    }
    Print("usage: RTTEST files|inflate|keys|exec|run|env|flat|firmware|restart ...\r\n");
    return 2;
}
