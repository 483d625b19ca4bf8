// The DOS updater's files on POSIX: a DosFile is a file descriptor.
#pragma once
#include "platform/dos_platform.h"

namespace fwpack {

class PosixDosFiles : public DosFiles {
  public:
    DosFile OpenForReading(const char *path) override;
    DosFile CreateForWriting(const char *path) override;
    bool Seek(DosFile file, uint32_t offset) override;
    bool Length(DosFile file, uint32_t &length) override;
    size_t Read(DosFile file, uint8_t *out, size_t count) override;
    size_t Write(DosFile file, const uint8_t *data, size_t count) override;
    bool Close(DosFile file) override;
    bool Remove(const char *path) override;
    bool Exists(const char *path) override;
    bool DiskFull() override { return diskFull_; }

  private:
    bool diskFull_ = false;
};

}  // namespace fwpack
