// The DOS updater's platform on Linux:
// - own file: /proc/self/exe, read-only (a running executable cannot be
//   opened for writing, and nothing is written to it);
// - files: file descriptors (PosixDosFiles); the transfer buffer: ordinary
//   memory;
// - tools: no command interpreter; the command line is split into words at its
//   spaces, a trailing "> name" sends the output to that file, and the
//   program is looked for with "." in front of PATH, so that, as on DOS, a
//   program in the current directory is found first; no other character
//   means anything;
// - keys: the terminal without echo and line buffering, what was typed
//   before a question dropped, an escape sequence one key that is no
//   letter; from a stdin that is not a terminal, its bytes; the end of
//   input is reported as such;
// - stop requests: SIGINT, SIGQUIT, SIGTERM, SIGHUP and SIGPIPE, once
//   caught, only note the signal (exit code 128 + its number) and end a
//   wait for a key; the run then cleans up as at any other exit;
// - beep: the terminal bell; delays: sleeps;
// - physical memory: /dev/mem, or the file named by FWPACK_FIRMWARE_DUMP
//   mapped as the top of the 4 GiB space (its last byte at 0xFFFFFFFF);
// - restart: sync, then reboot(2).
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/dos_platform.h"
#include "platform/posix/memory_transfer_buffer.h"
#include "platform/posix/posix_dos_files.h"

namespace fwpack {

inline constexpr char kFirmwareDumpVariable[] = "FWPACK_FIRMWARE_DUMP";

class LinuxDosPlatform : public DosPlatform {
  public:
    // Turns the stop signals into stop requests, for the rest of the process.
    static void CatchStopSignals();
    int StopRequest() override;
    void Write(const char *text, size_t length) override;
    void ReadPhysical(uint32_t address, uint8_t *out, size_t count) override;
    DosFiles &Files() override { return files_; }
    DosTransferBuffer &Transfer() override { return transfer_; }
    DosFile OpenOwnFile() override;
    int RunCommand(const char *commandLine) override;
    void MakeRunnable(const char *fileName) override;
    void DiscardTypeAhead() override;
    int ReadKey() override;
    void Beep(unsigned hertz, unsigned milliseconds) override;
    void Delay(unsigned milliseconds) override;
    void Restart() override;

  private:
    PosixDosFiles files_;
    MemoryTransferBuffer transfer_{files_};
};

// A command line as the updater builds it: words separated by runs of
// spaces, the last two possibly ">" and the file for the output.
struct DosCommand {
    std::vector<std::string> Words;
    std::string Output;   // empty: the output stays where it is
};
DosCommand ParseDosCommandLine(std::string_view commandLine);

// Reads count bytes at address of a 4 GiB space whose top holds the file at
// dumpPath; bytes outside the file, or all of them when it cannot be read,
// are 0xFF. False when the file cannot be opened.
bool ReadFirmwareDump(const std::string &dumpPath, uint32_t address, uint8_t *out, size_t count);

}  // namespace fwpack
