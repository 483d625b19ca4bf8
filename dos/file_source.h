// A file read at any offset, for the chunked marker search.
#pragma once
#include "payload/marker_search.h"
#include "platform/dos_platform.h"

namespace fwpack {

class FileByteSource : public ByteSource {
  public:
    // file stays owned by the caller.
    FileByteSource(DosFiles &files, DosFile file) : files_(files), file_(file) {}
    size_t ReadAt(uint64_t offset, uint8_t *into, size_t room) override {
        if (offset > UINT32_MAX || !files_.Seek(file_, uint32_t(offset))) return 0;
        return files_.Read(file_, into, room);
    }

  private:
    DosFiles &files_;
    DosFile file_;
};

}  // namespace fwpack
