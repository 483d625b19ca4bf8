#include "platform/dos16/firmware_reader.h"

#include "platform/dos16/flat_memory.h"
#include "platform/dos16/runtime.h"

extern "C" void *memset(void *destination, int value, size_t count);

namespace dos16 {
namespace {

constexpr uint64_t kFourGiB = 0x100000000ull;
// Interrupts stay off while one window is read through FS: short enough
// that no timer tick is lost on a slow flash part.
constexpr uint16_t kFlatWindow = 4096;

constexpr char kBlockMoveLine[] =
    "The BIOS block move failed: the firmware cannot be read.\r\n";

// The part of [address, address + count) below 4 GiB.
uint16_t BelowFourGiB(uint32_t address, uint16_t count) {
    const uint64_t end = uint64_t(address) + count;
    return uint16_t((end > kFourGiB ? kFourGiB : end) - address);
}

}  // namespace

void FirmwareReader::Open(bool preferBlockMove) {
    Close();
    char path[80];
    if (GetEnvironment(kFirmwareDumpVariable, path, sizeof path) > 0) {
        dump_ = OpenFile(path, OpenMode::Read);
        int32_t size = dump_ >= 0 ? SeekFile(int(dump_), 0, SeekFrom::End) : -1;
        if (size > 0) {
            dumpSize_ = uint32_t(size);
            access_ = FirmwareAccess::Dump;
            return;
        }
        Printf("%s: cannot open %s\r\n", kFirmwareDumpVariable, path);
        Close();
        return;
    }
    switch (preferBlockMove ? FlatMode::VirtualMode : PrepareFlatMode()) {
    case FlatMode::Ready: access_ = FirmwareAccess::Flat; break;
    case FlatMode::VirtualMode: access_ = FirmwareAccess::BlockMove; break;
    case FlatMode::A20Off: GiveUp(kA20OffLine); break;
    }
}

void FirmwareReader::Read(uint32_t address, uint8_t *out, uint16_t count) {
    memset(out, 0xFF, count);
    switch (access_) {
    case FirmwareAccess::Dump: ReadDump(address, out, count); break;
    case FirmwareAccess::Flat: ReadFlat(address, out, BelowFourGiB(address, count)); break;
    case FirmwareAccess::BlockMove: ReadThroughBios(address, out, BelowFourGiB(address, count)); break;
    case FirmwareAccess::None: break;
    }
}

// Byte 0 of the dump is at 4 GiB minus its size; only the overlap of the
// request with the dump is read.
void FirmwareReader::ReadDump(uint32_t address, uint8_t *out, uint16_t count) {
    const uint64_t base = kFourGiB - dumpSize_;
    const uint64_t begin = address > base ? address : base;
    const uint64_t requestEnd = uint64_t(address) + count;
    const uint64_t end = requestEnd < kFourGiB ? requestEnd : kFourGiB;
    if (begin >= end)
        return;
    if (SeekFile(int(dump_), int32_t(begin - base), SeekFrom::Start) < 0)
        return;
    ReadFile(int(dump_), out + (begin - address), uint16_t(end - begin));
}

// A20 is tested again in every window: a tool or driver may have turned it
// off since, and then each address would read the byte 1 MiB lower.
void FirmwareReader::ReadFlat(uint32_t address, uint8_t *out, uint16_t count) {
    for (uint16_t done = 0; done < count;) {
        const uint16_t piece = count - done < kFlatWindow ? uint16_t(count - done) : kFlatWindow;
        if (!ReadFlatWindow(address + done, out + done, piece)) {
            memset(out, 0xFF, count);
            GiveUp(kA20OffLine);
            return;
        }
        done = uint16_t(done + piece);
    }
}

// The BIOS moves words: an odd last byte comes from a two-byte move into a
// room of its own, so nothing past the caller's buffer is written.
void FirmwareReader::ReadThroughBios(uint32_t address, uint8_t *out, uint16_t count) {
    const uint16_t even = uint16_t(count & ~1u);
    bool ok = even == 0 || ReadBlockMove(address, out, even);
    if (ok && even != count) {
        static uint8_t last[2];
        ok = ReadBlockMove(address + even, last, 2);
        out[even] = last[0];
    }
    if (!ok) {
        memset(out, 0xFF, count);
        GiveUp(kBlockMoveLine);
    }
}

void FirmwareReader::GiveUp(const char *line) {
    Print(line);
    access_ = FirmwareAccess::None;
}

void FirmwareReader::Close() {
    if (dump_ >= 0)
        CloseFile(int(dump_));
    dump_ = -1;
    dumpSize_ = 0;
    access_ = FirmwareAccess::None;
}

}  // namespace dos16
