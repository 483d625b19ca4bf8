#include "dos/tag_scan.h"

#include <algorithm>
#include <cstring>

#include "payload/tagged_resource.h"

namespace fwpack {

TagScanner::TagScanner(DosFiles &files, DosFile file, long size)
    : files_(files), file_(file), size_(size), chunk_(kScanChunkSize) {
    for (uint16_t id : {DosPackage, BiosPackage, OptionResource, MePackage}) tags_.push_back({id, ResourceTag(id)});
}

// Most '$' in a file are followed by something no tag has: the second byte
// settles them before a full comparison.
uint16_t TagScanner::Match(const uint8_t *p) const {
    for (const Tag &t : tags_)
        if (p[1] == uint8_t(t.Text[1]) && std::memcmp(p, t.Text.data(), kTagLength) == 0) return t.Id;
    return 0;
}

bool TagScanner::Load(long at) {
    base_ = -1;
    length_ = 0;
    if (at < 0 || at >= size_ || !files_.Seek(file_, uint32_t(at))) return false;
    size_t want = size_t(std::min<long>(size_ - at, long(chunk_.size())));
    length_ = files_.Read(file_, chunk_.data(), want);
    base_ = at;
    return length_ >= kTagLength;
}

long TagScanner::FindTag(long from, long limit, uint16_t *id) {
    long p = std::max(from, 0L);
    while (p < limit) {
        // A chunk holds whole 12-byte windows for the positions below its
        // last 11 bytes; anything beyond is read again with the next chunk.
        if (base_ < 0 || p < base_ || p + long(kTagLength) > base_ + long(length_))
            if (!Load(p)) return -1;
        long stop = std::min(limit, base_ + long(length_) - long(kTagLength - 1));
        const uint8_t *begin = chunk_.data() + (p - base_);
        const uint8_t *end = chunk_.data() + (stop - base_);
        while (begin < end) {
            const uint8_t *hit = static_cast<const uint8_t *>(std::memchr(begin, '$', end - begin));
            if (!hit) break;
            if (uint16_t found = Match(hit)) {
                if (id) *id = found;
                return base_ + long(hit - chunk_.data());
            }
            begin = hit + 1;
        }
        p = stop;
    }
    return -1;
}

uint32_t ScanResumeOffset(uint32_t at, uint32_t bodyLength, uint32_t size) {
    if (at > size || size - at < kTaggedHeaderSize) return size;
    const uint32_t afterHeader = at + uint32_t(kTaggedHeaderSize);
    if (bodyLength >= size - afterHeader) return size;
    return afterHeader + bodyLength + 1;
}

}  // namespace fwpack
