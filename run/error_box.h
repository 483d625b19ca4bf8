// The error box: no owner window, one OK button, the error icon, and the
// window title as caption.
#pragma once
#include <string_view>

#include "platform/message_box.h"

namespace fwpack {

void ShowErrorBox(MessageBoxes &boxes, std::string_view windowTitle, std::string_view text);

}  // namespace fwpack
