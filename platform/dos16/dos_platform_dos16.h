// The DOS updater's platform on real-mode DOS:
// - files: DOS handles (INT 21h), every buffer in the program's data segment;
// - the transfer buffer: a block DOS allocates beyond the data segment;
// - own file: the path DOS puts after the environment;
// - command lines: no command interpreter for a program (DOS's interpreters
//   answer 0 whatever the program returned). The first word is the program,
//   found in the current directory (".COM", ".EXE", then ".BAT" tried when
//   the name has no extension), the rest its command tail, and a trailing
//   "> name" sends its output to that file. Only a batch file goes through
//   COMSPEC, and its result then says nothing about the tool's;
// - keys: DOS's read without echo; the end of redirected input is reported
//   as such, before DOS would repeat the last byte forever; type-ahead is
//   dropped before a question; a two-byte key is no letter;
// - stop requests: Ctrl-C and Ctrl-Break, noted by the program's own
//   handler (installed by the program while it runs), which DOS is asked
//   to look for at every step; critical errors fail the call that met them;
// - a program that ended by a break, a critical-error abort or staying
//   resident has not finished: RunCommand says kCommandAborted;
// - physical memory: flat real mode, or the FWPACK_FIRMWARE_DUMP file read
//   as the top of the 4 GiB space;
// - restart: keyboard controller, reset control port, reset vector.
#pragma once
#include "platform/dos16/firmware_reader.h"
#include "platform/dos_platform.h"

namespace fwpack {

class Dos16Files : public DosFiles {
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
    // A write through the files or the transfer buffer that fell short.
    bool DiskFull() override;
};

// The transfer buffer in a block of DOS's own beyond the data segment; DOS
// reads into it and writes from it with DS on the block.
class Dos16TransferBuffer : public DosTransferBuffer {
  public:
    bool Allocate(size_t size) override;
    void Fill(uint8_t value, size_t count) override;
    size_t ReadFrom(DosFile file, size_t count) override;
    size_t WriteTo(DosFile file, size_t count) override;
    // The block's segment; 0 before it is set aside.
    uint16_t Segment() const { return segment_; }

  private:
    size_t Clamp(size_t count) const { return count < size_ ? count : size_; }

    uint16_t segment_ = 0;
    size_t size_ = 0;
};

class Dos16Platform : public DosPlatform {
  public:
    void Write(const char *text, size_t length) override;
    void ReadPhysical(uint32_t address, uint8_t *out, size_t count) override;
    DosFiles &Files() override { return files_; }
    DosTransferBuffer &Transfer() override { return transfer_; }
    DosFile OpenOwnFile() override;
    int RunCommand(const char *commandLine) override;
    void MakeRunnable(const char *) override {}   // every file can be run
    void DiscardTypeAhead() override;
    int ReadKey() override;
    int StopRequest() override;
    void Beep(unsigned hertz, unsigned milliseconds) override;
    void Delay(unsigned milliseconds) override;
    void Restart() override;

  private:
    Dos16Files files_;
    Dos16TransferBuffer transfer_;
    dos16::FirmwareReader firmware_;
    bool firmwareOpen_ = false;
};

}  // namespace fwpack
