// The dialog's controls, as the worker drives them. One object is bound to
// one dialog window; every call is carried out synchronously by the thread
// that owns the window (SendMessage semantics), so when it returns the
// control has changed. Calls on a control that does not exist do nothing.
#pragma once
#include <cstdint>
#include <string_view>

namespace fwpack {

class DialogControls {
  public:
    virtual ~DialogControls() = default;

    // EnableWindow(GetDlgItem(id), enable).
    virtual void EnableControl(int id, bool enable) = 0;
    // ShowWindow(GetDlgItem(id), SW_HIDE).
    virtual void HideControl(int id) = 0;
    // SetDlgItemTextA(id, text); text holds no NUL. No repaint of its own.
    virtual void SetControlText(int id, std::string_view text) = 0;
    // PBM_SETRANGE (0x401) to the progress bar: wParam 0, lParam with
    // minimum in the low and maximum in the high 16 bits. No repaint.
    virtual void SetProgressRange(uint16_t minimum, uint16_t maximum) = 0;
    // PBM_SETPOS (0x402) to the progress bar. No repaint.
    virtual void SetProgressPosition(int position) = 0;
    // UpdateWindow(GetDlgItem(id)): repaint one control at once.
    virtual void RepaintControl(int id) = 0;
    // UpdateWindow(dialog): repaint the whole dialog at once.
    virtual void RepaintWindow() = 0;
    // ShowWindow(dialog, SW_HIDE).
    virtual void HideWindow() = 0;
    // PostMessageA(dialog, WM_QUIT (0x12), code, 0): ends the dialog's modal
    // loop; code becomes the exit status. Does not wait.
    virtual void PostQuit(int code) = 0;
};

}  // namespace fwpack
