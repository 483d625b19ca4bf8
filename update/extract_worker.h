// ExtractWorker: the one worker thread of the Windows program. It unpacks
// the tool package into the DestinationFolder, runs the flash stages, ends
// every run in its cleanup path (with the restart decision) and posts the
// quit request to the dialog.
#pragma once
#include "update/worker_context.h"

namespace fwpack {

// The thread function's body. Returns 0, always. The caller (the Windows
// thread procedure) passes a context whose Dialog is bound to the dialog
// window; it must not touch the context again until the function returns.
int ExtractWorker(WorkerContext &context);

}  // namespace fwpack
