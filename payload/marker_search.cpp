#include "payload/marker_search.h"

#include <cstring>

namespace fwpack {

namespace {

size_t LongestMarker(const Marker *markers, size_t count) {
    size_t longest = 0;
    for (size_t k = 0; k < count; ++k)
        if (markers[k].Length > longest) longest = markers[k].Length;
    return longest;
}

// The byte every marker starts with, or -1 when they start differently.
int SharedFirstByte(const Marker *markers, size_t count) {
    if (count == 0) return -1;
    for (size_t k = 1; k < count; ++k)
        if (markers[k].Bytes[0] != markers[0].Bytes[0]) return -1;
    return markers[0].Bytes[0];
}

// The marker that starts at bytes[i] and ends inside size, or count. Most
// candidates differ in their second byte, which settles them cheaply.
size_t MatchAt(const uint8_t *bytes, size_t size, size_t i, const Marker *markers, size_t count) {
    const size_t left = size - i;
    for (size_t k = 0; k < count; ++k) {
        const Marker &m = markers[k];
        if (m.Length > left || (m.Length > 1 && bytes[i + 1] != m.Bytes[1])) continue;
        if (std::memcmp(bytes + i, m.Bytes, m.Length) == 0) return k;
    }
    return count;
}

// Positions [first, stop) of bytes[0, size); the first match, or stop.
// Markers sharing a first byte (the usual case: they all start with '$')
// are looked for by jumping from one such byte to the next.
size_t Scan(const uint8_t *bytes, size_t size, size_t first, size_t stop, const Marker *markers,
            size_t count, size_t &which) {
    const int lead = SharedFirstByte(markers, count);
    for (size_t i = first; i < stop; ++i) {
        if (lead >= 0) {
            const void *hit = std::memchr(bytes + i, lead, stop - i);
            if (!hit) return stop;
            i = size_t(static_cast<const uint8_t *>(hit) - bytes);
        }
        which = MatchAt(bytes, size, i, markers, count);
        if (which < count) return i;
    }
    return stop;
}

}  // namespace

MarkerHit FindMarker(ByteSource &source, uint64_t from, uint64_t limit, const Marker *markers,
                     size_t count, uint8_t *chunk, size_t chunkSize) {
    MarkerHit hit;
    const size_t longest = LongestMarker(markers, count);
    if (count == 0 || longest == 0 || chunkSize < longest) return hit;
    for (uint64_t pos = from; pos < limit;) {
        const size_t got = source.ReadAt(pos, chunk, chunkSize);
        if (got == 0) break;
        const bool atEnd = got < chunkSize;
        // Positions whose every marker would lie inside this chunk are
        // settled here; the rest start the next chunk.
        const uint64_t settled = pos + (atEnd ? got : got - (longest - 1));
        const uint64_t stop = settled < limit ? settled : limit;
        size_t which = 0;
        const size_t at = Scan(chunk, got, 0, size_t(stop - pos), markers, count, which);
        if (at < stop - pos) {
            hit.Found = true;
            hit.Offset = pos + at;
            hit.Which = which;
            return hit;
        }
        if (atEnd) break;
        pos = stop;
    }
    return hit;
}

MarkerHit FindMarkerIn(const uint8_t *bytes, size_t size, size_t from, size_t limit,
                       const Marker *markers, size_t count) {
    MarkerHit hit;
    if (bytes == nullptr || count == 0) return hit;
    const size_t stop = limit < size ? limit : size;
    size_t which = 0;
    if (from >= stop) return hit;
    const size_t at = Scan(bytes, size, from, stop, markers, count, which);
    if (at < stop) {
        hit.Found = true;
        hit.Offset = at;
        hit.Which = which;
    }
    return hit;
}

}  // namespace fwpack
