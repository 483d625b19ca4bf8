#include "run/error_box.h"

namespace fwpack {

void ShowErrorBox(MessageBoxes &boxes, std::string_view windowTitle, std::string_view text) {
    boxes.Show(text, windowTitle, BoxIcon::Error, BoxButtons::Ok);
}

}  // namespace fwpack
