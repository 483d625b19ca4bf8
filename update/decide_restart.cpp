// The restart decision: only after both flash programs reported success
// with a restart request, and never in factory mode.
#include "update/decide_restart.h"

namespace fwpack {

void DecideRestart(WorkerContext &c, const WorkerRunState &s) {
    const RunOptions &o = c.Run.Options;
    bool verdicts = s.Launched == 1 && s.RtnStatus == 1 && s.RtnReboot == 1 &&
                    s.MERtnStatus == 1 && s.MERtnReboot == 1;
    if (!verdicts || o.Factory) return;
    if (o.NoPause) {
        RestartSystem(c.Restart);
        return;
    }
    if (o.NoReboot) return;
    BoxButton answer =
        c.Boxes.Show("Update successful!\r\nIt will take effect after reboot!\r\nReboot now?",
                     "DadErive", BoxIcon::Question, BoxButtons::YesNo);
    if (answer == BoxButton::Yes) RestartSystem(c.Restart);
}

bool RestartSystem(SystemRestart &restart) { return restart.RestartSystem(); }

}  // namespace fwpack
