// The transfer buffer in ordinary memory, moving bytes through any DosFiles:
// the DOS updater's Linux layer and the test machines use it.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/dos_platform.h"

namespace fwpack {

class MemoryTransferBuffer : public BlockTransferBuffer {
  public:
    explicit MemoryTransferBuffer(DosFiles &files) : BlockTransferBuffer(files) {}
    bool Allocate(size_t size) override;

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace fwpack
