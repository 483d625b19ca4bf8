#include "dos/bios_id.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "payload/marker_search.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {
constexpr size_t kOffsets[kBiosIdFields + 1] = {0, 0, 10, 20, 30, 40, 50, 70};
constexpr size_t kRooms[kBiosIdFields + 1] = {0, 10, 10, 10, 10, 10, 20, 10};
constexpr size_t kBlockBufferSize = 128;
constexpr size_t kBiosInfoChunkSize = 65536;
}  // namespace

size_t BiosIdRecord::FieldOffset(int field) {
    return field >= 1 && field <= kBiosIdFields ? kOffsets[field] : 0;
}
size_t BiosIdRecord::FieldRoom(int field) {
    return field >= 1 && field <= kBiosIdFields ? kRooms[field] : 0;
}

std::string_view BiosIdRecord::Field(int field) const {
    const char *start = Bytes.data() + FieldOffset(field);
    size_t room = FieldRoom(field), n = 0;
    while (n < room && start[n] != 0) ++n;
    return {start, n};
}

void strToStruct(std::string_view text, BiosIdRecord &record) {
    record.Bytes.fill(0);
    int field = 0;   // 0: before the first '$'
    size_t pos = 0;
    for (char c : text) {
        if (c == '$') {
            if (++field > kBiosIdFields) return;
            pos = 0;
            continue;
        }
        if (field == 0) continue;
        if (pos < kRooms[field]) record.Bytes[kOffsets[field] + pos] = c;
        ++pos;
    }
}

namespace {
// A range of physical memory read at offsets from its start. Memory has no
// end: every read is filled.
class MemoryRangeSource : public ByteSource {
  public:
    MemoryRangeSource(PhysicalMemoryReader &memory, uint32_t begin) : memory_(memory), begin_(begin) {}
    size_t ReadAt(uint64_t offset, uint8_t *into, size_t room) override {
        memory_.ReadPhysical(uint32_t(begin_ + offset), into, room);
        return room;
    }

  private:
    PhysicalMemoryReader &memory_;
    uint32_t begin_;
};

// The block from its "$FB" on: at most 64 bytes, and after the seventh '$'
// the little-endian word that follows it in hexadecimal.
std::string CopyBlock(const uint8_t *block) {
    std::string text;
    int dollars = 0;
    for (size_t k = 0; k < kBiosInfoCopyLimit; ++k) {
        char c = char(block[k]);
        text.push_back(c);
        if (c == '$' && ++dollars == kBiosIdFields) {
            unsigned word = block[k + 1] | (block[k + 2] << 8);
            char hex[8];
            std::snprintf(hex, sizeof hex, "%X", word);
            return text + hex;
        }
    }
    return text;
}
}  // namespace

std::string GetBiosInfo(PhysicalMemoryReader &memory) {
    static constexpr uint8_t kMarker[3] = {'$', 'F', 'B'};
    const Marker marker{kMarker, sizeof kMarker};
    std::vector<uint8_t> chunk(kBiosInfoChunkSize);
    for (const MemoryRange &range : kBiosInfoRanges) {
        MemoryRangeSource source(memory, range.Begin);
        const MarkerHit hit =
            FindMarker(source, 0, range.End - range.Begin, &marker, 1, chunk.data(), chunk.size());
        if (!hit.Found) continue;
        // The copy may run past the range's end, as far as the word after
        // the last byte it can take.
        uint8_t block[kBiosInfoCopyLimit + 2];
        memory.ReadPhysical(uint32_t(range.Begin + hit.Offset), block, sizeof block);
        return CopyBlock(block);
    }
    return {};
}

std::string biosInfoToString(std::string_view blockText) {
    char buffer[kBlockBufferSize + 2] = {};   // two spare zeros for the word read
    std::memcpy(buffer, blockText.data(), std::min(blockText.size(), kBlockBufferSize - 1));
    size_t length = std::strlen(buffer);
    size_t last = std::string_view(buffer, length).rfind('$');
    size_t pos = last == std::string_view::npos ? 1 : last + 1;
    unsigned word = uint8_t(buffer[pos]) | (uint8_t(buffer[pos + 1]) << 8);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", word);
    return std::string(buffer, std::min(pos, length)) + hex;
}

}  // namespace fwpack
