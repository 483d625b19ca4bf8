#include "dialog/message_handlers.h"

#include <string>

#include "dialog/result_log.h"
#include "run/dialog_updates.h"
#include "run/error_box.h"

namespace fwpack {

IconPosition MinimisedIconPosition(int clientWidth, int clientHeight, int iconWidth,
                                   int iconHeight) {
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

void BrowseForDestination(DialogContext &context) {
    if (context.Ui.WorkerStarted) return;   // the worker owns the destination now
    context.Ui.PickerOpen = context.Ui.PickerDisabling = true;
    std::optional<std::string> chosen = context.Window.PickFolder(kBrowseTitle);
    context.Ui.PickerOpen = context.Ui.PickerDisabling = false;
    if (!chosen) return;   // cancelled: folder and edit box stay as they were

    std::string folder = *chosen;
    // A choice without a file-system path would leave the worker a
    // destination of "" (the working directory); keep the previous one.
    if (!folder.empty()) {
        if (folder.back() != '\\') folder += '\\';
        context.Run.DestinationFolder = folder;
    }
    context.Window.SetControlText(control::Destination, context.Run.DestinationFolder);
}

void OnStartTimer(DialogContext &context, unsigned timerId) {
    if (timerId != kStartTimerId || context.Ui.WorkerStarted) return;
    if (context.Ui.PickerOpen) return;   // the timer keeps running; try again next tick
    // Cancel mode came first and has asked the loop to end: no worker.
    if (context.Run.AbortRequested()) return;

    context.Window.KillTimer(kStartTimerId);
    if (context.Window.StartWorker()) {
        context.Ui.WorkerStarted = true;
        context.Run.AbortFlag.store(0, std::memory_order_relaxed);
        return;
    }
    context.Run.Log.Line("the worker thread could not be created");
    context.Run.Outcome.store(RunOutcome::Failed);
    ShowErrorBox(context.Boxes, context.Run.WindowTitle,
                 "Fail to create extracting process,Program aborted!");
    WriteFlashResult(context);
    context.Window.PostQuit(kQuitNoWorker);
}

int ExitStatusAtEnd(DialogContext &context, int quitCode) {
    const RunState &run = context.Run;
    const RunOutcome outcome = run.Outcome.load();
    const int status = run.Options.ExitCodes ? DeploymentExitCode(outcome) : quitCode;
    context.Run.Log.Line("outcome: " + std::string(OutcomeText(outcome)) + "; exit status " +
                         std::to_string(status));
    return status;
}

void OnCancelMode(DialogContext &context) {
    if (context.Ui.PickerDisabling) {
        context.Ui.PickerDisabling = false;
        return;
    }

    context.Run.AbortFlag.store(1, std::memory_order_relaxed);
    // A worker that still ends its run on its own says how it ended.
    RunOutcome undecided = RunOutcome::Unknown;
    context.Run.Outcome.compare_exchange_strong(undecided, RunOutcome::Cancelled);
    context.Run.Log.Line(context.Ui.WorkerStarted ? "cancelled while the worker runs"
                                                  : "cancelled before the worker started");
    for (IconHandle *icon : {&context.Ui.LargeIcon, &context.Ui.BrowseIcon}) {
        if (*icon != 0) context.Window.DestroyIcon(*icon);
        *icon = 0;
    }
    context.Window.PostQuit(context.Ui.WorkerStarted ? kQuitNormal : kQuitNoWorker);
}

}  // namespace fwpack
