// The two dialog updates that repaint at once; the control ids they take
// come with them from win/resource_ids.h.
#pragma once
#include <string_view>

#include "platform/dialog.h"
#include "win/resource_ids.h"

namespace fwpack {

// Sets the progress bar's position and repaints the bar at once.
void SetProgress(DialogControls &dialog, int position);
// Sets a control's text and repaints that control at once.
void SetItemText(DialogControls &dialog, int id, std::string_view text);

}  // namespace fwpack
