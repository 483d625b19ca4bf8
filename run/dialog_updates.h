// The dialog's control identifiers and the two updates that repaint at once.
#pragma once
#include <string_view>

#include "platform/dialog.h"
#include "win/resource_ids.h"

namespace fwpack {

namespace control {
inline constexpr int Go = IDC_GO, Cancel = IDC_CANCEL_RUN, Browse = IDC_BROWSE,
                     Progress = IDC_PROGRESS, PleaseWait = IDC_PLEASE_WAIT,
                     ExtractHere = IDC_EXTRACT_HERE, Destination = IDC_DESTINATION,
                     Percentage = IDC_PERCENT, Status = IDC_STATUS;
}

// Sets the progress bar's position and repaints the bar at once.
void SetProgress(DialogControls &dialog, int position);
// Sets a control's text and repaints that control at once.
void SetItemText(DialogControls &dialog, int id, std::string_view text);

}  // namespace fwpack
