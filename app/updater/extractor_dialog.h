// ExtractorDialog: the program's one window, a modal dialog on template 102
// with no parent, and its message map.
#pragma once
#include <windows.h>

#include <memory>

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_log_file.h"
#include "platform/win32/win32_main_window.h"
#include "platform/win32/win32_services.h"
#include "dialog/dialog_context.h"
#include "run/run_boxes.h"

namespace fwpack {

class ExtractorDialog {
  public:
    // Loads the main icon (128).
    explicit ExtractorDialog(HINSTANCE instance);
    ExtractorDialog(const ExtractorDialog &) = delete;
    ExtractorDialog &operator=(const ExtractorDialog &) = delete;

    // Creates the dialog, runs its loop until the first quit request and
    // tears it down; returns the quit request's code (the exit status).
    int DoModal();

    // The exit status for the quit code that ended the loop (the deployment
    // code of the run's outcome under "/exitcodes").
    int ExitStatus(int quitCode);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    bool OnPaint();
    HICON OnQueryDragIcon();
    void OnBrowse();
    void OnTimer(UINT_PTR id);
    void OnDestroy();
    void OnCancelMode();
    // Waits for a worker that was told to abort until it has ended or
    // waits for a flash program, carrying out the control updates it sends
    // meanwhile, so that its cleanup runs. Its own work is given a bound;
    // time in a box it shows is the user's and is not counted.
    void WaitForAbortedWorker();

    HINSTANCE instance_;
    HICON mainIcon_;
    HWND window_ = nullptr;

    Win32ProgramEnvironment program_;
    Win32FileSystem files_;
    Win32Clock clock_;
    Win32MessageBoxes boxes_;
    Win32Resources resources_;
    Win32LogFile logFile_;
    RunBoxes runBoxes_;
    WindowState ui_;
    // Made when the window exists (WM_INITDIALOG).
    std::unique_ptr<Win32MainWindow> mainWindow_;
    std::unique_ptr<DialogContext> context_;
};

}  // namespace fwpack
