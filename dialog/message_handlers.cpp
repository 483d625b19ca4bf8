#include "dialog/message_handlers.h"

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
    ShowErrorBox(context.Boxes, context.Run.WindowTitle,
                 "Fail to create extracting process,Program aborted!");
    WriteFlashResult(context);
    context.Window.PostQuit(kQuitNoWorker);
}

void OnCancelMode(DialogContext &context) {
    if (context.Ui.PickerDisabling) {
        context.Ui.PickerDisabling = false;
        return;
    }

    context.Run.AbortFlag.store(1, std::memory_order_relaxed);
    for (IconHandle *icon : {&context.Ui.LargeIcon, &context.Ui.BrowseIcon}) {
        if (*icon != 0) context.Window.DestroyIcon(*icon);
        *icon = 0;
    }
    context.Window.PostQuit(context.Ui.WorkerStarted ? kQuitNormal : kQuitNoWorker);
}

}  // namespace fwpack
