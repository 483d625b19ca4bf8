#include "app/updater/extractor_dialog.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/updater/worker_thread.h"
#include "payload/resource_layout.h"
#include "run/dialog_updates.h"
#include "dialog/message_handlers.h"
#include "dialog/startup.h"

namespace fwpack {

namespace {
// How long the end of the loop waits for a worker told to abort.
constexpr DWORD kAbortedWorkerWait = 5000;   // milliseconds
// How often that wait looks where the worker is.
constexpr DWORD kWaitSlice = 20;
}

ExtractorDialog::ExtractorDialog(HINSTANCE instance)
    : instance_(instance),
      mainIcon_(LoadIconA(instance, MAKEINTRESOURCEA(resource_id::MainIcon))),
      resources_(instance, kResourceType),
      runBoxes_(boxes_, TheRunState(), BoxesOf::Dialog) {}

int ExtractorDialog::DoModal() {
    // A modeless dialog and a loop of our own: the loop must end at the
    // first WM_QUIT, whoever posted it, and hand on its code.
    window_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(resource_id::Dialog), nullptr,
                                 &ExtractorDialog::DialogProc, LPARAM(this));
    if (!window_) return -1;

    int code = 0;
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            code = int(msg.wParam);
            break;
        }
        if (got == -1) break;
        if (!IsDialogMessageA(window_, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    WaitForAbortedWorker();
    DestroyWindow(window_);
    return code;
}

INT_PTR CALLBACK ExtractorDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto *self = reinterpret_cast<ExtractorDialog *>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, LONG_PTR(self));
        self->window_ = window;
        return self->OnInitDialog();
    }
    auto *self = reinterpret_cast<ExtractorDialog *>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self || !self->context_) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

// The message map; FALSE hands a message on to the dialog's default processing.
INT_PTR ExtractorDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return INT_PTR(OnQueryDragIcon());
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == control::Browse) {
            OnBrowse();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            // Close box or Escape: end the run the way cancel mode does, so
            // a running worker is told to stop and gets its cleanup.
            fwpack::OnCancelMode(*context_);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        OnTimer(UINT_PTR(wParam));
        return FALSE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case WM_CANCELMODE:
        OnCancelMode();
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        mainWindow_->KeepHidden(*reinterpret_cast<WINDOWPOS *>(lParam));
        return FALSE;
    case WM_ACTIVATE:
        return mainWindow_->RefuseActivation(wParam, HWND(lParam)) ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

BOOL ExtractorDialog::OnInitDialog() {
    mainWindow_ = std::make_unique<Win32MainWindow>(window_, instance_, mainIcon_,
                                                    &ExtractWorkerThread);
    context_ = std::make_unique<DialogContext>(DialogContext{program_, *mainWindow_, files_, clock_,
                                                             runBoxes_, resources_, TheRunState(),
                                                             ui_, logFile_});
    if (RunStartupSequence(*context_) == StartupResult::Exit) std::exit(ExitStatus(0));
    // The dialog manager sets the initial focus, which activates the window:
    // a window hidden for good gets none.
    return mainWindow_->HiddenForGood() ? FALSE : TRUE;
}

bool ExtractorDialog::OnPaint() {
    if (!IsIconic(window_)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, WPARAM(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    IconPosition at = MinimisedIconPosition(client.right - client.left, client.bottom - client.top,
                                            GetSystemMetrics(SM_CXICON),
                                            GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, at.x, at.y, mainIcon_);
    EndPaint(window_, &paint);
    return true;
}

HICON ExtractorDialog::OnQueryDragIcon() { return mainIcon_; }

void ExtractorDialog::OnBrowse() { BrowseForDestination(*context_); }

void ExtractorDialog::OnTimer(UINT_PTR id) { OnStartTimer(*context_, unsigned(id)); }

void ExtractorDialog::OnDestroy() {}

void ExtractorDialog::OnCancelMode() {
    DefWindowProcA(window_, WM_CANCELMODE, 0, 0);
    fwpack::OnCancelMode(*context_);
}

int ExtractorDialog::ExitStatus(int quitCode) {
    if (!context_) return quitCode;
    return ExitStatusAtEnd(*context_, quitCode);
}

void ExtractorDialog::WaitForAbortedWorker() {
    if (!mainWindow_ || !context_) return;
    HANDLE worker = mainWindow_->WorkerThread();
    if (!worker || !context_->Run.AbortRequested()) return;
    // The program has ended for the user; the window stays (hidden) only to
    // take the worker's last control updates.
    ShowWindow(window_, SW_HIDE);
    DWORD start = GetTickCount();
    for (;;) {
        // A flash program may run without bound, and ending the process
        // while it runs cuts nothing short; the worker starts nothing after
        // the abort.
        WorkerPhase phase = context_->Run.Phase.load();
        if (phase == WorkerPhase::InFlashProgram) return;
        // A box is the user's to answer; the worker cleans up after it.
        if (phase == WorkerPhase::InBox) start = GetTickCount();
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kAbortedWorkerWait) return;
        DWORD slice = std::min<DWORD>(kAbortedWorkerWait - elapsed, kWaitSlice);
        DWORD woke = MsgWaitForMultipleObjects(1, &worker, FALSE, slice, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            // The worker waits on a control update: carry it out.
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

}  // namespace fwpack
