// The dialog's controls driven from the worker thread. Every call goes
// through the window system (SendMessage underneath), so the window's own
// thread carries it out while the caller waits.
#pragma once
#include <windows.h>

#include "platform/dialog.h"

namespace fwpack {

class Win32DialogControls : public DialogControls {
  public:
    // progressBar is the id of the control the progress calls go to.
    Win32DialogControls(HWND dialog, int progressBar) : dialog_(dialog), progressBar_(progressBar) {}
    void EnableControl(int id, bool enable) override;
    void HideControl(int id) override;
    void SetControlText(int id, std::string_view text) override;
    void SetProgressRange(uint16_t minimum, uint16_t maximum) override;
    void SetProgressPosition(int position) override;
    void RepaintControl(int id) override;
    void RepaintWindow() override;
    void HideWindow() override;
    void PostQuit(int code) override;

  private:
    HWND dialog_;
    int progressBar_;
};

}  // namespace fwpack
