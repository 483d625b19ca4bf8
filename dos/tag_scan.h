// Finds the tagged resources in the program's own file: the chunked marker
// search over the file with the four tags as markers, read in chunks of the
// caller's buffer (the transfer buffer) that overlap by 11 bytes.
#pragma once
#include <cstdint>

#include "dos/file_source.h"
#include "payload/tag_markers.h"

namespace fwpack {

class TagScanner {
  public:
    // file, a file of files, stays owned by the caller; size is its length
    // in bytes. chunk (chunkSize bytes, at least a tag's length) is borrowed
    // for every FindTag.
    TagScanner(DosFiles &files, DosFile file, long size, uint8_t *chunk, size_t chunkSize);

    // The first position q with from <= q < limit where the 12 bytes at q
    // spell one of the four tags; its resource id in *id. -1 when there is
    // none, or the file cannot be read there.
    long FindTag(long from, long limit, uint16_t *id);

  private:
    TagMarkers tags_;
    FileByteSource source_;
    long size_;
    uint8_t *chunk_;
    size_t chunkSize_;
};

// Where the scan goes on after a resource whose header starts at `at` in a
// file of `size` bytes: the first byte after the header and, for a package,
// after its body too (bodyLength 0 for a resource whose body is scanned
// through). Nothing is skipped there: in a PE's resources the next tag may
// begin right at that byte.
// Unsigned 32-bit throughout, checked against the size, so that no length
// in the file can wrap the offset where long is 32 bits: a body that runs
// past the end gives `size`, where nothing more is found.
uint32_t ScanResumeOffset(uint32_t at, uint32_t bodyLength, uint32_t size);

}  // namespace fwpack
