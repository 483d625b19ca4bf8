#include "platform/dos16/firmware_reader.h"

#include "platform/dos16/flat_memory.h"
#include "platform/dos16/runtime.h"

extern "C" void *memset(void *destination, int value, size_t count);

namespace dos16 {
namespace {

constexpr uint64_t kFourGiB = 0x100000000ull;

}  // namespace

void FirmwareReader::Open() {
    Close();
    char path[80];
    if (GetEnvironment(kFirmwareDumpVariable, path, sizeof path) > 0) {
        dump_ = OpenFile(path, OpenMode::Read);
        int32_t size = dump_ >= 0 ? SeekFile(int(dump_), 0, SeekFrom::End) : -1;
        if (size > 0) {
            dumpSize_ = uint32_t(size);
            return;
        }
        Printf("%s: cannot open %s\r\n", kFirmwareDumpVariable, path);
        Close();
        return;
    }
    flat_ = LoadFSLimit4G() == FlatMode::Ready;
    if (!flat_)
        Print(kVirtualModeLine);
}

void FirmwareReader::Read(uint32_t address, uint8_t *out, uint16_t count) {
    memset(out, 0xFF, count);
    if (dump_ >= 0) {
        ReadDump(address, out, count);
    } else if (flat_) {
        // Other code may have reset FS's limit since the last read.
        if (LoadFSLimit4G() == FlatMode::Ready) {
            uint64_t end = uint64_t(address) + count;
            ReadFlat(address, out, size_t((end > kFourGiB ? kFourGiB : end) - address));
        }
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

void FirmwareReader::Close() {
    if (dump_ >= 0)
        CloseFile(int(dump_));
    dump_ = -1;
    dumpSize_ = 0;
    flat_ = false;
}

}  // namespace dos16
