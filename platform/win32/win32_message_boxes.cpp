#include "platform/win32/win32_services.h"

#include <string>

namespace fwpack {

BoxButton Win32MessageBoxes::Show(std::string_view text, std::string_view caption, BoxIcon icon,
                                  BoxButtons buttons) {
    // No owner window: the box shows while the dialog is hidden, and on the
    // worker's thread it is modal to that thread alone.
    int pressed = MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(),
                              UINT(icon) | UINT(buttons));
    switch (pressed) {
    case IDOK: return BoxButton::Ok;
    case IDYES: return BoxButton::Yes;
    case IDNO: return BoxButton::No;
    default: return BoxButton::Other;
    }
}

}  // namespace fwpack
