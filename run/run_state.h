// The process-wide state that the user-interface thread and the worker
// share. Most of it is written during start-up, before the worker exists,
// and only read afterwards. Some fields are written once the worker runs:
// AbortFlag by the user-interface thread (read by the worker at its check
// points), Phase by the worker (read by the dialog when it decides how long
// to wait for an aborted worker), Outcome by both, and the option word,
// which the worker alone completes (PackOptionWord) just before it starts
// the BIOS flash program.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/option_block.h"
#include "run/run_log.h"
#include "run/run_outcome.h"

namespace fwpack {

// The Windows path limit: a path and its NUL fit 260 bytes.
inline constexpr size_t kPathBufferSize = 260;
// The window title and its NUL fit 200 bytes.
inline constexpr size_t kTitleBufferSize = 200;

// All zero (false) when the process starts.
struct RunOptions {
    uint32_t OptionWord = 0;   // Flags, completed by PackOptionWord
    bool Factory = false;      // Flags bit 0x4
    bool ForceIt = false;      // Flags bit 0x8, "/forceit"
    bool NoPause = false;      // Flags bit 0x20, "/nopause"
    bool NoReboot = false;     // Flags bit 0x40, "/noreboot"
    bool DebugBoxes = false;   // "/debug" or "/dbg" only
    // The admin's switches; they never touch the option word.
    std::string LogPath;       // "/log=PATH": append a run log to PATH
    bool ExitCodes = false;    // "/exitcodes": exit with the deployment codes
};

// Where the worker is, as far as ending the process is concerned.
enum class WorkerPhase : int {
    // Working on files: ending the process now would cut a write short or
    // leave scratch data behind.
    Working,
    // A message box of the worker is up: nothing is half-done, and the user
    // can answer it, after which the worker cleans up.
    InBox,
    // A flash program runs and the worker waits for it, without bound:
    // nothing is half-done, and the program's files must stay meanwhile.
    InFlashProgram,
};

struct RunState {
    RunOptions Options;
    ProgramOptionCopy OptionCopy;    // filled by LoadOptionBlock
    std::string DestinationFolder;   // ends with the separator; shorter than 260
    std::string WindowTitle;         // caption of the error boxes; shorter than 200
    std::string ResultLogPath;
    // 0 after the worker is created, 1 after a cancel-mode notification.
    // Relaxed loads and stores: it orders nothing else.
    std::atomic<int32_t> AbortFlag{0};
    std::atomic<WorkerPhase> Phase{WorkerPhase::Working};
    // Decided by start-up, the start timer, cancel mode or, at its end, the
    // worker; read when the process ends.
    std::atomic<RunOutcome> Outcome{RunOutcome::Unknown};
    RunLog Log;   // started by start-up when "/log=PATH" was given

    bool AbortRequested() const { return AbortFlag.load(std::memory_order_relaxed) == 1; }
};

}  // namespace fwpack
