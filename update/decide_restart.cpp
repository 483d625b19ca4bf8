// The restart decision: only after both flash programs reported success
// with a restart request, and never in factory mode.
#include "update/decide_restart.h"

namespace fwpack {

namespace {

bool Restart(WorkerContext &c, const char *why) {
    bool started = RestartSystem(c.Restart);
    c.Run.Log.Line(std::string("restart: ") + why +
                   (started ? "; the restart was started" : "; the restart call failed"));
    return started;
}

}  // namespace

bool DecideRestart(WorkerContext &c, const WorkerRunState &s) {
    const RunOptions &o = c.Run.Options;
    RunLog &log = c.Run.Log;
    bool verdicts = s.Launched == 1 && s.RtnStatus == 1 && s.RtnReboot == 1 &&
                    s.MERtnStatus == 1 && s.MERtnReboot == 1;
    if (!verdicts) {
        log.Line("restart: none (not both flash programs reported success with a restart request)");
        return false;
    }
    if (o.Factory) {
        log.Line("restart: none (factory mode)");
        return false;
    }
    if (o.NoPause) return Restart(c, "without asking (nopause)");
    if (o.NoReboot) {
        log.Line("restart: none (noreboot)");
        return false;
    }
    BoxButton answer =
        c.Boxes.Show("Update successful!\r\nIt will take effect after reboot!\r\nReboot now?",
                     "DadErive", BoxIcon::Question, BoxButtons::YesNo);
    if (answer == BoxButton::Yes) return Restart(c, "the user answered Yes");
    log.Line("restart: none (the user answered No)");
    return false;
}

bool RestartSystem(SystemRestart &restart) { return restart.RestartSystem(); }

RunOutcome OutcomeOfVerdicts(const WorkerRunState &s, bool restartStarted) {
    if (s.Launched != 1) return RunOutcome::Done;   // nothing to flash
    if (s.RtnStatus != 1) return RunOutcome::Failed;
    // The ME flash stage follows only a BIOS verdict of 1 and 1.
    const bool meRan = s.MeLaunched;
    if (meRan && s.MERtnStatus != 1) return RunOutcome::Failed;
    if (restartStarted) return RunOutcome::RestartStarted;
    if (s.RtnReboot == 1 || (meRan && s.MERtnReboot == 1)) return RunOutcome::RestartNeeded;
    return RunOutcome::Done;
}

}  // namespace fwpack
