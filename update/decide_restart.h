// The restart decision at the end of every run, and what the run's verdicts
// make of its outcome.
#pragma once
#include "platform/restart.h"
#include "run/run_outcome.h"
#include "update/worker_context.h"
#include "update/worker_run_state.h"

namespace fwpack {

// Restarts, asks, or does nothing, by the verdicts and the run options; the
// decision and its reason go to the run log. Returns in every case; true
// when a restart was started.
bool DecideRestart(WorkerContext &context, const WorkerRunState &state);

// Starts a forced restart through the platform; true when it was started.
bool RestartSystem(SystemRestart &restart);

// The outcome of a run whose stages all completed: a flash program that
// reported anything but success fails the run; otherwise the run is done,
// and a restart a flash program asked for was either started or is still
// needed.
RunOutcome OutcomeOfVerdicts(const WorkerRunState &state, bool restartStarted);

}  // namespace fwpack
