// The updater's files in the UEFI shell: names are resolved by the shell
// against its current folder (a relative name) or its maps ("fs0:\..."),
// and the files are the shell's, on the volume's simple file system. The
// program's own file is opened on the volume it was loaded from, through
// the loaded image's device and file path, since the shell may have found
// it through its search path. A DosFile is a slot in a small table.
#pragma once
#include "platform/dos_platform.h"
#include "platform/uefi/uefi_tables.h"

namespace fwpack {

class UefiFiles : public DosFiles {
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

    // The program's own file, read through the firmware's file interface.
    DosFile OpenOwnFile();
    // Closes every file still open (their data written out), before a reset.
    void CloseAll();

  private:
    struct Slot {
        void *Handle = nullptr;   // a shell file, or a uefi::File
        bool Shell = false;
    };
    static constexpr int kSlots = 16;

    DosFile Keep(void *handle, bool shell);
    Slot *At(DosFile file);

    Slot slots_[kSlots];
    bool diskFull_ = false;
};

}  // namespace fwpack
