// The restart decision at the end of every run.
#pragma once
#include "platform/restart.h"
#include "update/worker_context.h"
#include "update/worker_run_state.h"

namespace fwpack {

// Restarts, asks, or does nothing, by the verdicts and the run options.
// Returns in every case.
void DecideRestart(WorkerContext &context, const WorkerRunState &state);

// Starts a forced restart through the platform; true when it was started.
bool RestartSystem(SystemRestart &restart);

}  // namespace fwpack
