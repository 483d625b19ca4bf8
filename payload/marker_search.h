// Finds the first of a few byte markers in a source too large to hold at
// once (a file, a range of physical memory), reading it in chunks. Each
// chunk after the first repeats the bytes a marker could still need from
// the one before, so a marker that straddles a chunk border is found whole.
// Freestanding: the caller owns the chunk buffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

struct Marker {
    const uint8_t *Bytes;
    size_t Length;  // at least 1
};

// Where the bytes come from. ReadAt fills up to room bytes from offset and
// returns how many it gave; fewer than room only at the source's end (or
// when it cannot be read there), 0 past it.
class ByteSource {
  public:
    virtual size_t ReadAt(uint64_t offset, uint8_t *into, size_t room) = 0;

  protected:
    ~ByteSource() = default;
};

struct MarkerHit {
    bool Found = false;
    uint64_t Offset = 0;  // where the marker starts
    size_t Which = 0;     // its index in the markers given
};

// The first position p with from <= p < limit at which one of the markers
// lies whole in the source. Where two markers start at one position the
// first in the list wins. chunkSize must be at least the longest marker.
MarkerHit FindMarker(ByteSource &source, uint64_t from, uint64_t limit, const Marker *markers,
                     size_t count, uint8_t *chunk, size_t chunkSize);

// The same search over bytes already in memory: positions from <= p <
// limit, markers whole inside size bytes.
MarkerHit FindMarkerIn(const uint8_t *bytes, size_t size, size_t from, size_t limit,
                       const Marker *markers, size_t count);

}  // namespace fwpack
