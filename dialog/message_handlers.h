// The handlers of the dialog's messages that carry logic of their own:
// the minimised paint position, the browse button, the start timer and the
// cancel-mode notification.
#pragma once
#include "dialog/dialog_context.h"

namespace fwpack {

inline constexpr const char *kBrowseTitle = "Extract to...";

// The start timer: armed at the end of start-up, it creates the worker.
inline constexpr unsigned kStartTimerId = 8888;
inline constexpr unsigned kStartTimerPeriod = 100;   // milliseconds

// Quit codes of the modal loop; they become the exit status.
inline constexpr int kQuitNormal = 0;
inline constexpr int kQuitNoWorker = 18;

// The exit status of the process at its end, whoever ends it (start-up, or
// the end of the modal loop with quitCode): quitCode as ever, or with
// "/exitcodes" the deployment code of the run's outcome. The outcome goes to
// the run log.
int ExitStatusAtEnd(DialogContext &context, int quitCode);

struct IconPosition {
    int x = 0, y = 0;
};

// Where the minimised window draws its icon: (client - icon + 1) / 2 in each
// direction, signed division truncating toward zero.
IconPosition MinimisedIconPosition(int clientWidth, int clientHeight, int iconWidth,
                                   int iconHeight);

// The browse button: lets the user choose the DestinationFolder and shows it
// in the edit box. A cancelled picker, or a choice without a file-system
// path, keeps the previous folder.
void BrowseForDestination(DialogContext &context);

// A timer message. Timer 8888 fires once: it creates the worker, unless the
// folder picker is still open (the next tick tries again) or cancel mode
// has already ended the run.
void OnStartTimer(DialogContext &context, unsigned timerId);

// The cancel-mode notification: tells the worker to stop, releases the two
// loaded icons (once) and ends the modal loop, with code 0 when the worker
// exists and 18 before. The one notification that the folder picker causes
// when it disables the window is not a request to stop and is ignored.
void OnCancelMode(DialogContext &context);

}  // namespace fwpack
