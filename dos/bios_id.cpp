#include "dos/bios_id.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

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

std::string GetBiosInfo(PhysicalMemoryReader &memory) {
    // Enough beyond a range's end for a marker found at its last address
    // and the copy that follows it.
    constexpr size_t kTail = kBiosInfoCopyLimit + 2;
    std::vector<uint8_t> window;
    for (const MemoryRange &range : kBiosInfoRanges) {
        size_t span = range.End - range.Begin;
        window.assign(span + kTail, 0xFF);
        memory.ReadPhysical(range.Begin, window.data(), window.size());
        for (size_t i = 0; i < span; ++i) {
            const void *hit = std::memchr(window.data() + i, '$', span - i);
            if (!hit) break;
            i = static_cast<const uint8_t *>(hit) - window.data();
            if (window[i + 1] != 'F' || window[i + 2] != 'B') continue;

            std::string text;
            int dollars = 0;
            for (size_t k = 0; k < kBiosInfoCopyLimit; ++k) {
                char c = char(window[i + k]);
                text.push_back(c);
                if (c == '$' && ++dollars == kBiosIdFields) {
                    size_t next = i + k + 1;
                    unsigned word = window[next] | (window[next + 1] << 8);
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "%X", word);
                    text += hex;
                    break;
                }
            }
            return text;
        }
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
