// The process-wide state that the user-interface thread and the worker
// share. Most of it is written during start-up, before the worker exists,
// and only read afterwards. Three fields are written once the worker runs:
// AbortFlag by the user-interface thread (read by the worker at its check
// points), UnpackingCompleted by the worker (read by the dialog when it
// decides whether to wait for an aborted worker), and the option word,
// which the worker alone completes (PackOptionWord) just before it starts
// the BIOS flash program.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/option_block.h"

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
    // Set by the worker when its unpacking has completed ("Update
    // completed."). What follows (the completion box, the flash programs)
    // may last without bound, so an aborted worker is waited for only
    // before this; after it, an abort still keeps any flash program from
    // being started.
    std::atomic<bool> UnpackingCompleted{false};

    bool AbortRequested() const { return AbortFlag.load(std::memory_order_relaxed) == 1; }
};

}  // namespace fwpack
