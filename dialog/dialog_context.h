// What the start-up sequence and the window's handlers work with: the
// platform seam, the shared run state and the window's own small state.
#pragma once
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/log_file.h"
#include "platform/main_window.h"
#include "platform/message_box.h"
#include "platform/program_environment.h"
#include "platform/resources.h"
#include "run/run_state.h"

namespace fwpack {

// Written and read on the user-interface thread only.
struct WindowState {
    IconHandle LargeIcon = 0;    // icon 131, released by cancel mode
    IconHandle BrowseIcon = 0;   // icon 132 at 16x16, released by cancel mode
    bool WorkerStarted = false;
    // The folder picker is open: the worker must not start with a
    // half-chosen destination.
    bool PickerOpen = false;
    // The picker disables its owner, and disabling a window sends it a
    // cancel-mode notification: that one is the picker at work, not a
    // request to stop.
    bool PickerDisabling = false;
};

struct DialogContext {
    ProgramEnvironment &Program;
    MainWindow &Window;
    FileSystem &Files;
    Clock &Time;
    MessageBoxes &Boxes;
    const ResourceSource &Resources;
    RunState &Run;
    WindowState &Ui;
    LogFile &LogOut;   // where "/log=PATH" writes
};

}  // namespace fwpack
