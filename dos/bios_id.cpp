#include "dos/bios_id.h"

#include <cstring>

#include "payload/marker_search.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {
constexpr size_t kOffsets[kBiosIdFields + 1] = {0, 0, 10, 20, 30, 40, 50, 70};
constexpr size_t kRooms[kBiosIdFields + 1] = {0, 10, 10, 10, 10, 10, 20, 10};
constexpr size_t kBlockBufferSize = 128;
}  // namespace

size_t BiosIdRecord::FieldOffset(int field) {
    return field >= 1 && field <= kBiosIdFields ? kOffsets[field] : 0;
}
size_t BiosIdRecord::FieldRoom(int field) {
    return field >= 1 && field <= kBiosIdFields ? kRooms[field] : 0;
}

namespace {
// Where the text ends from begin on: its end or its first NUL.
size_t StopAtNul(TextView text, size_t begin) {
    size_t end = begin;
    while (end < text.Length && text[end] != '\0') ++end;
    return end;
}
}  // namespace

TextView BiosIdRecord::Field(int field) const {
    const char *start = Bytes + FieldOffset(field);
    size_t room = FieldRoom(field), n = 0;
    while (n < room && start[n] != 0) ++n;
    return {start, n};
}

void strToStruct(TextView text, BiosIdRecord &record) {
    std::memset(record.Bytes, 0, sizeof record.Bytes);
    int field = 0;   // 0: before the first '$'
    size_t pos = 0;
    for (size_t i = 0; i < text.Length; ++i) {
        const char c = text[i];
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

TextView IdTextField(TextView text, int field) {
    int at = 0;   // 0: before the first '$'
    size_t begin = 0;
    for (size_t i = 0; i < text.Length && text[i] != '\0'; ++i) {
        if (text[i] != '$') continue;
        if (at == field) return {text.Data + begin, i - begin};
        ++at;
        begin = i + 1;
    }
    return at == field ? TextView(text.Data + begin, StopAtNul(text, begin) - begin) : TextView();
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
void CopyBlock(const uint8_t *block, TextBuilder &out) {
    int dollars = 0;
    for (size_t k = 0; k < kBiosInfoCopyLimit; ++k) {
        const char c = char(block[k]);
        out.Append(c);
        if (c == '$' && ++dollars == kBiosIdFields) {
            out.AppendHex(uint32_t(block[k + 1] | (block[k + 2] << 8)));
            return;
        }
    }
}
}  // namespace

void GetBiosInfo(PhysicalMemoryReader &memory, uint8_t *chunk, size_t chunkSize, TextBuilder &out) {
    static constexpr uint8_t kMarker[3] = {'$', 'F', 'B'};
    const Marker marker{kMarker, sizeof kMarker};
    out.Clear();
    for (const MemoryRange &range : kBiosInfoRanges) {
        MemoryRangeSource source(memory, range.Begin);
        const MarkerHit hit =
            FindMarker(source, 0, range.End - range.Begin, &marker, 1, chunk, chunkSize);
        if (!hit.Found) continue;
        // The copy may run past the range's end, as far as the word after
        // the last byte it can take.
        uint8_t block[kBiosInfoCopyLimit + 2];
        memory.ReadPhysical(uint32_t(range.Begin + hit.Offset), block, sizeof block);
        CopyBlock(block, out);
        return;
    }
}

void biosInfoToString(TextView blockText, TextBuilder &out) {
    char buffer[kBlockBufferSize + 2] = {};   // two spare zeros for the word read
    const size_t copied = blockText.Length < kBlockBufferSize - 1 ? blockText.Length : kBlockBufferSize - 1;
    std::memcpy(buffer, blockText.Data, copied);
    const size_t length = std::strlen(buffer);
    size_t pos = 1;   // without a '$'
    for (size_t i = length; i > 0; --i)
        if (buffer[i - 1] == '$') {
            pos = i;
            break;
        }
    const unsigned word = uint8_t(buffer[pos]) | (uint8_t(buffer[pos + 1]) << 8);
    out.Clear();
    out.Append(TextView(buffer, pos < length ? pos : length)).AppendHex(word, 4);
}

}  // namespace fwpack
