// The program's one window, as start-up and its message handlers use it.
// Every call is made on the user-interface thread that owns the window.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fwpack {

// An icon handle; 0 when there is none.
using IconHandle = uintptr_t;

class MainWindow {
  public:
    virtual ~MainWindow() = default;

    // Centres the window on the screen.
    virtual void CenterWindow() = 0;
    // WM_SETICON: the window's large (ICON_BIG) or small icon.
    virtual void SetIcon(IconHandle icon, bool large) = 0;
    // The main icon (resource 128), loaded when the window object was made.
    virtual IconHandle MainIcon() = 0;
    // LoadIconA(instance, id): 0 when it cannot be loaded.
    virtual IconHandle LoadIconResource(int id) = 0;
    // LoadImageA(instance, id, IMAGE_ICON, size, size, default colours, not
    // shared): 0 when it cannot be loaded.
    virtual IconHandle LoadIconImage(int id, int size) = 0;
    virtual void DestroyIcon(IconHandle icon) = 0;
    // BM_SETIMAGE with IMAGE_ICON to the push button id.
    virtual void SetButtonIcon(int id, IconHandle icon) = 0;
    // The window's caption.
    virtual void SetTitle(std::string_view title) = 0;
    // A control's text (SetDlgItemTextA), no repaint of its own.
    virtual void SetControlText(int id, std::string_view text) = 0;
    // Shows the window.
    virtual void Show() = 0;
    // Moves the window under the message-only parent: it keeps receiving its
    // messages and owning its controls but is never displayed.
    virtual void HideForGood() = 0;
    // A timer on the window delivered as timer messages with id; KillTimer.
    virtual void SetTimer(unsigned id, unsigned milliseconds) = 0;
    virtual void KillTimer(unsigned id) = 0;
    // Starts the worker thread with the window as its argument. False when
    // the thread cannot be created.
    virtual bool StartWorker() = 0;
    // Asks the modal loop to end with code (PostQuitMessage).
    virtual void PostQuit(int code) = 0;
    // The shell's folder picker owned by the window, titled title, file
    // system folders only. The chosen folder's path, "" when the choice has
    // no file-system path, nullopt when the user cancelled.
    virtual std::optional<std::string> PickFolder(std::string_view title) = 0;
};

}  // namespace fwpack
