// What the DOS updater needs from the machine it runs on: its own file, the
// command interpreter, the keyboard, the speaker, delays, physical memory
// below 4 GiB, the reset, and the text console. The updater's logic sees
// nothing else of the operating system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fwpack {

// Console text output. Every line the updater shows goes through here.
class DosConsole {
  public:
    virtual ~DosConsole() = default;
    virtual void Write(std::string_view text) = 0;
};

// Reads of 32-bit physical addresses, as flat real mode gives them. Bytes
// that cannot be read come back as 0xFF, as an unmapped bus reads.
class PhysicalMemoryReader {
  public:
    virtual ~PhysicalMemoryReader() = default;
    virtual void ReadPhysical(uint32_t address, uint8_t *out, size_t count) = 0;
};

inline constexpr int kEndOfInput = -1;
// ReadKey's answer when the wait was ended by a request to stop the program
// (a signal); StopRequest() then gives the exit code.
inline constexpr int kStopRequested = -2;

class DosPlatform : public DosConsole, public PhysicalMemoryReader {
  public:
    // The program's own file, opened for reading only; null when it cannot
    // be opened. The caller closes it.
    virtual std::FILE *OpenOwnFile() = 0;
    // Runs a command line through the command interpreter, which looks for
    // a program in the current directory first. 0 is success.
    virtual int RunCommand(const std::string &commandLine) = 0;
    // Called for every unpacked tool file, so that the interpreter can run it.
    virtual void MakeRunnable(const std::string &fileName) = 0;
    // One key, without echo; kEndOfInput when no more keys will come;
    // kStopRequested when a stop request ended the wait.
    virtual int ReadKey() = 0;
    // 0, or the exit code a request to stop the program asks for; once
    // asked, the run cleans up and ends at its next step.
    virtual int StopRequest() { return 0; }
    virtual void Beep(unsigned hertz, unsigned milliseconds) = 0;
    virtual void Delay(unsigned milliseconds) = 0;
    // Resets the machine; returns only when that failed.
    virtual void Restart() = 0;
};

}  // namespace fwpack
