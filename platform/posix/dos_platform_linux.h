// The DOS updater's platform on Linux:
// - own file: /proc/self/exe, read-only (a running executable cannot be
//   opened for writing, and nothing is written to it);
// - files: file descriptors (PosixDosFiles);
// - command interpreter: /bin/sh -c with "." put in front of PATH, so that,
//   as on DOS, a program in the current directory is found first;
// - keys: the terminal without echo and line buffering; from a stdin that
//   is not a terminal, its bytes; the end of input is reported as such;
// - beep: the terminal bell; delays: sleeps;
// - physical memory: /dev/mem, or the file named by FWPACK_FIRMWARE_DUMP
//   mapped as the top of the 4 GiB space (its last byte at 0xFFFFFFFF);
// - restart: sync, then reboot(2).
#pragma once
#include <string>

#include "platform/dos_platform.h"
#include "platform/posix/posix_dos_files.h"

namespace fwpack {

inline constexpr char kFirmwareDumpVariable[] = "FWPACK_FIRMWARE_DUMP";

class LinuxDosPlatform : public DosPlatform {
  public:
    void Write(const char *text, size_t length) override;
    void ReadPhysical(uint32_t address, uint8_t *out, size_t count) override;
    DosFiles &Files() override { return files_; }
    DosFile OpenOwnFile() override;
    int RunCommand(const char *commandLine) override;
    void MakeRunnable(const char *fileName) override;
    int ReadKey() override;
    void Beep(unsigned hertz, unsigned milliseconds) override;
    void Delay(unsigned milliseconds) override;
    void Restart() override;

  private:
    PosixDosFiles files_;
};

// Reads count bytes at address of a 4 GiB space whose top holds the file at
// dumpPath; bytes outside the file, or all of them when it cannot be read,
// are 0xFF. False when the file cannot be opened.
bool ReadFirmwareDump(const std::string &dumpPath, uint32_t address, uint8_t *out, size_t count);

}  // namespace fwpack
