// Starting a flash program and waiting for it.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace fwpack {

// Opaque handles of a started process (process and thread).
struct StartedProcess {
    uintptr_t Process = 0;
    uintptr_t Thread = 0;
};

// Results of a wait, with the WaitForSingleObject values.
namespace wait_result {
inline constexpr uint32_t Object0 = 0x0, Abandoned = 0x80, Timeout = 0x102,
                          Failed = 0xFFFFFFFF;
}

class Processes {
  public:
    virtual ~Processes() = default;
    // CreateProcessA(application, commandLine, no security attributes,
    // handles not inherited, creation flags 0, own environment, folder as
    // current directory, STARTUPINFOA zeroed but its size). application is
    // the full path of the program; commandLine is handed to the program
    // byte for byte (its first word is the program path as the program is
    // to see it). nullopt when the start fails.
    virtual std::optional<StartedProcess> Start(std::string_view application,
                                                std::string_view commandLine,
                                                std::string_view folder) = 0;
    // WaitForSingleObject(process, INFINITE); returns the wait result (one of
    // wait_result, or another value the platform gave).
    virtual uint32_t Wait(const StartedProcess &process) = 0;
    // The exit code of an ended process (GetExitCodeProcess); nullopt when
    // it cannot be had.
    virtual std::optional<uint32_t> ExitCode(const StartedProcess &process) = 0;
    // Closes the process handle, then the thread handle.
    virtual void Close(const StartedProcess &process) = 0;
};

}  // namespace fwpack
