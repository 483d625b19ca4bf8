// The two control updates that the user sees at once.
#include "run/dialog_updates.h"

namespace fwpack {

void SetProgress(DialogControls &dialog, int position) {
    dialog.SetProgressPosition(position);
    dialog.RepaintControl(control::Progress);
}

void SetItemText(DialogControls &dialog, int id, std::string_view text) {
    dialog.SetControlText(id, text);
    dialog.RepaintControl(id);
}

}  // namespace fwpack
