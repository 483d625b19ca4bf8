// Modal message boxes with no owner window (MessageBoxA(NULL, ...)). They
// appear even while the dialog is hidden, and block the calling thread until
// dismissed.
#pragma once
#include <cstdint>
#include <string_view>

namespace fwpack {

// Values are the MB_ICON* flags.
enum class BoxIcon : uint32_t { Error = 0x10, Question = 0x20, Warning = 0x30, Information = 0x40 };
// Values are the MB_* button flags.
enum class BoxButtons : uint32_t { Ok = 0x0, YesNo = 0x4 };
// Values are the ID* results; Other for anything else (including failure).
enum class BoxButton : int32_t { Other = 0, Ok = 1, Yes = 6, No = 7 };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows text with caption, icon and buttons (style = icon | buttons) and
    // returns the button pressed. Texts hold no NUL; "\r\n" breaks a line.
    virtual BoxButton Show(std::string_view text, std::string_view caption, BoxIcon icon,
                           BoxButtons buttons) = 0;
};

}  // namespace fwpack
