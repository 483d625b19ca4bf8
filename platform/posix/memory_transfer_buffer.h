// The transfer buffer in ordinary memory, moving bytes through any DosFiles:
// the DOS updater's Linux layer and the test machines use it.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/dos_platform.h"

namespace fwpack {

class MemoryTransferBuffer : public DosTransferBuffer {
  public:
    explicit MemoryTransferBuffer(DosFiles &files) : files_(files) {}
    bool Allocate(size_t size) override;
    void Fill(uint8_t value, size_t count) override;
    size_t ReadFrom(DosFile file, size_t count) override;
    size_t WriteTo(DosFile file, size_t count) override;

  private:
    size_t Clamp(size_t count) const { return count < bytes_.size() ? count : bytes_.size(); }

    DosFiles &files_;
    std::vector<uint8_t> bytes_;
};

}  // namespace fwpack
