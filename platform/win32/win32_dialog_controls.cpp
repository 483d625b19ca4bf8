#include "platform/win32/win32_dialog_controls.h"

#include <commctrl.h>

#include <string>

namespace fwpack {

void Win32DialogControls::EnableControl(int id, bool enable) {
    if (HWND control = GetDlgItem(dialog_, id)) EnableWindow(control, enable);
}

void Win32DialogControls::HideControl(int id) {
    if (HWND control = GetDlgItem(dialog_, id)) ShowWindow(control, SW_HIDE);
}

void Win32DialogControls::SetControlText(int id, std::string_view text) {
    SetDlgItemTextA(dialog_, id, std::string(text).c_str());
}

void Win32DialogControls::SetProgressRange(uint16_t minimum, uint16_t maximum) {
    SendDlgItemMessageA(dialog_, progressBar_, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
}

void Win32DialogControls::SetProgressPosition(int position) {
    SendDlgItemMessageA(dialog_, progressBar_, PBM_SETPOS, WPARAM(position), 0);
}

void Win32DialogControls::RepaintControl(int id) {
    if (HWND control = GetDlgItem(dialog_, id)) UpdateWindow(control);
}

void Win32DialogControls::RepaintWindow() { UpdateWindow(dialog_); }

void Win32DialogControls::HideWindow() { ShowWindow(dialog_, SW_HIDE); }

void Win32DialogControls::PostQuit(int code) { PostMessageA(dialog_, WM_QUIT, WPARAM(code), 0); }

}  // namespace fwpack
