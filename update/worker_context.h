// What the update run works with: the platform seam and the shared run
// state. The Windows thread function builds one from its globals and the
// dialog's window; the host tests build one from the POSIX file layer and
// recording fakes.
#pragma once
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/processes.h"
#include "platform/resources.h"
#include "platform/restart.h"
#include "platform/result_values.h"
#include "run/run_state.h"

namespace fwpack {

struct WorkerContext {
    FileSystem &Files;
    const ResourceSource &Resources;   // the program's own "SETUP" resources
    DialogControls &Dialog;            // bound to the ExtractorDialog window
    MessageBoxes &Boxes;
    Processes &Programs;
    ResultValues &Results;
    SystemRestart &Restart;
    Clock &Time;
    RunState &Run;
};

}  // namespace fwpack
