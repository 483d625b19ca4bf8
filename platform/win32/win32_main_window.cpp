#include "platform/win32/win32_main_window.h"

#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace fwpack {

Win32MainWindow::~Win32MainWindow() {
    if (workerThread_) CloseHandle(workerThread_);
}

void Win32MainWindow::CenterWindow() {
    // No owner: centre on the work area of the screen.
    RECT window, area;
    if (!GetWindowRect(window_, &window)) return;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    int w = window.right - window.left, h = window.bottom - window.top;
    int x = area.left + (area.right - area.left - w) / 2;
    int y = area.top + (area.bottom - area.top - h) / 2;
    SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::SetIcon(IconHandle icon, bool large) {
    SendMessageA(window_, WM_SETICON, large ? ICON_BIG : ICON_SMALL, LPARAM(icon));
}

IconHandle Win32MainWindow::LoadIconResource(int id) {
    return IconHandle(LoadIconA(instance_, MAKEINTRESOURCEA(id)));
}

IconHandle Win32MainWindow::LoadIconImage(int id, int size) {
    return IconHandle(LoadImageA(instance_, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size,
                                 LR_DEFAULTCOLOR));
}

void Win32MainWindow::DestroyIcon(IconHandle icon) { ::DestroyIcon(HICON(icon)); }

void Win32MainWindow::SetButtonIcon(int id, IconHandle icon) {
    SendDlgItemMessageA(window_, id, BM_SETIMAGE, IMAGE_ICON, LPARAM(icon));
}

void Win32MainWindow::SetTitle(std::string_view title) {
    SetWindowTextA(window_, std::string(title).c_str());
}

void Win32MainWindow::SetControlText(int id, std::string_view text) {
    SetDlgItemTextA(window_, id, std::string(text).c_str());
}

void Win32MainWindow::Show() { ShowWindow(window_, SW_SHOW); }

void Win32MainWindow::HideForGood() {
    hiddenForGood_ = true;
    // Where no message-only parent can be had the window stays a top-level
    // one: it must not become the active window either, or keys meant for
    // another program (Escape, Alt+F4) would end a run nobody can see.
    SetWindowLongPtrA(window_, GWL_EXSTYLE,
                      (GetWindowLongPtrA(window_, GWL_EXSTYLE) | WS_EX_NOACTIVATE) &
                          ~LONG_PTR(WS_EX_APPWINDOW));
    SetParent(window_, HWND_MESSAGE);
}

void Win32MainWindow::KeepHidden(WINDOWPOS &change) const {
    if (!hiddenForGood_) return;
    change.flags &= ~UINT(SWP_SHOWWINDOW);
    change.flags |= SWP_NOACTIVATE;
}

bool Win32MainWindow::RefuseActivation(WPARAM state, HWND other) const {
    if (!hiddenForGood_ || LOWORD(state) == WA_INACTIVE) return false;
    // Hand the activation back to the window that had it, or to none.
    SetActiveWindow(other && IsWindow(other) ? other : nullptr);
    return true;
}

void Win32MainWindow::SetTimer(unsigned id, unsigned milliseconds) {
    ::SetTimer(window_, id, milliseconds, nullptr);
}

void Win32MainWindow::KillTimer(unsigned id) { ::KillTimer(window_, id); }

bool Win32MainWindow::StartWorker() {
    workerThread_ = CreateThread(nullptr, 0, worker_, window_, 0, &workerId_);
    return workerThread_ != nullptr;
}

void Win32MainWindow::PostQuit(int code) { PostQuitMessage(code); }

std::optional<std::string> Win32MainWindow::PickFolder(std::string_view title) {
    // The picker is a shell object: the thread needs COM once.
    static const bool comReady = SUCCEEDED(CoInitialize(nullptr));
    (void)comReady;
    char display[MAX_PATH] = {};
    std::string text(title);
    BROWSEINFOA info = {};
    info.hwndOwner = window_;
    info.pidlRoot = nullptr;
    info.pszDisplayName = display;
    info.lpszTitle = text.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = nullptr;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen) return std::nullopt;
    char path[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(chosen, path)) path[0] = '\0';
    CoTaskMemFree(chosen);
    return std::string(path);
}

}  // namespace fwpack
