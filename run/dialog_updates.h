// The dialog's control identifiers and the two updates that repaint at once.
#pragma once
#include <string_view>

#include "platform/dialog.h"

namespace fwpack {

namespace control {
inline constexpr int Go = 1000, Cancel = 1001, Browse = 1002, Progress = 1003,
                     PleaseWait = 1004, ExtractHere = 1005, Destination = 1006,
                     Percentage = 1008, Status = 1009;
}

// Sets the progress bar's position and repaints the bar at once.
void SetProgress(DialogControls &dialog, int position);
// Sets a control's text and repaints that control at once.
void SetItemText(DialogControls &dialog, int id, std::string_view text);

}  // namespace fwpack
