// How a run ended, and the exit status that "/exitcodes" gives each ending:
// the codes Windows deployment tools know.
#pragma once
#include <string_view>

namespace fwpack {

enum class RunOutcome : int {
    Unknown,          // not decided yet
    Done,             // done, no restart needed
    RestartNeeded,    // done, a restart is needed and was not made
    RestartStarted,   // done, the restart was started
    Cancelled,        // cancelled by the user
    AnotherInstance,  // another instance is running
    Failed,           // the package, the unpacking or a flash program failed
    BadCommandLine,
};

// The deployment exit code of an outcome: 0, 3010, 1641, 1602, 1618, 1603,
// 87; an outcome never decided counts as a failure (1603).
int DeploymentExitCode(RunOutcome outcome);

// A few words on the outcome for the run log.
std::string_view OutcomeText(RunOutcome outcome);

}  // namespace fwpack
