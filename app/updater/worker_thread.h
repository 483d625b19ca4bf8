// The worker thread's entry, and the one RunState of the process that the
// dialog and the thread share.
#pragma once
#include <windows.h>

#include "run/run_state.h"

namespace fwpack {

// The one RunState of the process.
RunState &TheRunState();

// The worker thread: its argument is the dialog's window handle. Builds the
// platform objects bound to that window and runs ExtractWorker. Returns 0.
DWORD WINAPI ExtractWorkerThread(LPVOID window);

}  // namespace fwpack
