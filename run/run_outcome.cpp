#include "run/run_outcome.h"

namespace fwpack {

namespace {

struct OutcomeRow {
    RunOutcome Outcome;
    int Code;
    std::string_view Text;
};

constexpr OutcomeRow kOutcomes[] = {
    {RunOutcome::Done, 0, "done, no restart needed"},
    {RunOutcome::RestartNeeded, 3010, "done, a restart is needed and was not made"},
    {RunOutcome::RestartStarted, 1641, "done, the restart was started"},
    {RunOutcome::Cancelled, 1602, "cancelled by the user"},
    {RunOutcome::AnotherInstance, 1618, "another instance is running"},
    {RunOutcome::Failed, 1603, "failed"},
    {RunOutcome::BadCommandLine, 87, "bad command line"},
};

const OutcomeRow &RowOf(RunOutcome outcome) {
    for (const OutcomeRow &row : kOutcomes)
        if (row.Outcome == outcome) return row;
    static constexpr OutcomeRow kUndecided{RunOutcome::Unknown, 1603,
                                           "failed (the run ended undecided)"};
    return kUndecided;
}

}  // namespace

int DeploymentExitCode(RunOutcome outcome) { return RowOf(outcome).Code; }

std::string_view OutcomeText(RunOutcome outcome) { return RowOf(outcome).Text; }

}  // namespace fwpack
