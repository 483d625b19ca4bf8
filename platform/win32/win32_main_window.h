// The dialog window as start-up and its handlers use it, on the thread that
// owns the window.
#pragma once
#include <windows.h>

#include "platform/main_window.h"

namespace fwpack {

class Win32MainWindow : public MainWindow {
  public:
    // worker is the thread procedure started with the window as argument.
    Win32MainWindow(HWND window, HINSTANCE instance, HICON mainIcon,
                    LPTHREAD_START_ROUTINE worker)
        : window_(window), instance_(instance), mainIcon_(mainIcon), worker_(worker) {}
    Win32MainWindow(const Win32MainWindow &) = delete;
    Win32MainWindow &operator=(const Win32MainWindow &) = delete;
    // Closes the worker thread's handle; the thread itself is not touched.
    ~Win32MainWindow() override;

    void CenterWindow() override;
    void SetIcon(IconHandle icon, bool large) override;
    IconHandle MainIcon() override { return IconHandle(mainIcon_); }
    IconHandle LoadIconResource(int id) override;
    IconHandle LoadIconImage(int id, int size) override;
    void DestroyIcon(IconHandle icon) override;
    void SetButtonIcon(int id, IconHandle icon) override;
    void SetTitle(std::string_view title) override;
    void SetControlText(int id, std::string_view text) override;
    void Show() override;
    void HideForGood() override;
    void SetTimer(unsigned id, unsigned milliseconds) override;
    void KillTimer(unsigned id) override;
    bool StartWorker() override;
    void PostQuit(int code) override;
    std::optional<std::string> PickFolder(std::string_view title) override;

    // The worker thread, or null before it was started.
    HANDLE WorkerThread() const { return workerThread_; }

    // Called with every WM_WINDOWPOSCHANGING: once the window is hidden for
    // good, a change that would show it is turned into one that does not.
    // The message-only parent alone is not enough: when the system cannot
    // give one, SetParent leaves the window on the desktop, and the dialog
    // manager shows a WS_VISIBLE dialog after its initialisation.
    void KeepHidden(WINDOWPOS &change) const;
    // Called with every WM_ACTIVATE: a window hidden for good that is being
    // activated hands the activation back (to other, the window that lost
    // it); true when it did so.
    bool RefuseActivation(WPARAM state, HWND other) const;
    bool HiddenForGood() const { return hiddenForGood_; }

  private:
    HWND window_;
    HINSTANCE instance_;
    HICON mainIcon_;
    LPTHREAD_START_ROUTINE worker_;
    HANDLE workerThread_ = nullptr;
    DWORD workerId_ = 0;
    bool hiddenForGood_ = false;
};

}  // namespace fwpack
