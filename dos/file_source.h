// A file read at any offset, for the chunked marker search.
#pragma once
#include <climits>
#include <cstdio>

#include "payload/marker_search.h"

namespace fwpack {

class FileByteSource : public ByteSource {
  public:
    // file stays owned by the caller.
    explicit FileByteSource(std::FILE *file) : file_(file) {}
    size_t ReadAt(uint64_t offset, uint8_t *into, size_t room) override {
        if (offset > uint64_t(LONG_MAX) || std::fseek(file_, long(offset), SEEK_SET) != 0) return 0;
        return std::fread(into, 1, room, file_);
    }

  private:
    std::FILE *file_;
};

}  // namespace fwpack
