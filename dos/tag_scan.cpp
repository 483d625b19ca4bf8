#include "dos/tag_scan.h"

namespace fwpack {

TagScanner::TagScanner(DosFiles &files, DosFile file, long size, uint8_t *chunk, size_t chunkSize)
    : source_(files, file), size_(size), chunk_(chunk), chunkSize_(chunkSize) {}

long TagScanner::FindTag(long from, long limit, uint16_t *id) {
    if (from < 0) from = 0;
    if (limit > size_) limit = size_;
    if (from >= limit) return -1;
    const MarkerHit hit = FindMarker(source_, uint64_t(from), uint64_t(limit), tags_.List,
                                     kTaggedResourceCount, chunk_, chunkSize_);
    if (!hit.Found) return -1;
    if (id) *id = TaggedResourceId(hit.Which);
    return long(hit.Offset);
}

uint32_t ScanResumeOffset(uint32_t at, uint32_t bodyLength, uint32_t size) {
    if (at > size || size - at < kTaggedHeaderSize) return size;
    const uint32_t afterHeader = at + uint32_t(kTaggedHeaderSize);
    if (bodyLength >= size - afterHeader) return size;
    return afterHeader + bodyLength;
}

}  // namespace fwpack
