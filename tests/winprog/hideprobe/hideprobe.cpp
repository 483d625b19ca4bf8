// Creates the updater's dialog three ways and reports whether it ends up on
// screen, one line per way ("NAME: ok" or "NAME: FAIL why") in the file named
// by the only argument. Exit status 0 when every line is ok.
//   shown             nothing hides it: the template's WS_VISIBLE shows it
//                     (shows that the probe can see a displayed dialog);
//   message-only      hidden for good under the message-only parent;
//   no-message-parent hidden for good, then put back on the desktop, as when
//                     the system has no message-only parent to give: the
//                     window must stay hidden, also when asked to show,
//                     and never be the active or the foreground window.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/win32/win32_main_window.h"
#include "win/resource_ids.h"

namespace {

enum class Way { Shown, MessageOnly, NoMessageParent };

struct Probe {
    Way way;
    std::unique_ptr<fwpack::Win32MainWindow> window;
};

DWORD WINAPI NoWorker(void *) { return 0; }

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto *probe = reinterpret_cast<Probe *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, LONG_PTR(probe));
        if (probe->way == Way::Shown) return TRUE;
        probe->window = std::make_unique<fwpack::Win32MainWindow>(
            dialog, GetModuleHandleA(nullptr), nullptr, &NoWorker);
        probe->window->HideForGood();
        if (probe->way == Way::NoMessageParent) SetParent(dialog, nullptr);
        return FALSE;   // as the updater: no initial focus for a hidden window
    }
    auto *probe = reinterpret_cast<Probe *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_WINDOWPOSCHANGING && probe && probe->window)
        probe->window->KeepHidden(*reinterpret_cast<WINDOWPOS *>(lParam));
    if (message == WM_ACTIVATE && probe && probe->window)
        return probe->window->RefuseActivation(wParam, HWND(lParam)) ? TRUE : FALSE;
    return FALSE;
}

std::string Check(Way way) {
    Probe probe{way, nullptr};
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_EXTRACTOR),
                                     nullptr, &ProbeProc, LPARAM(&probe));
    if (!dialog) return "FAIL the dialog could not be made, error " + std::to_string(GetLastError());
    bool onDesktop = GetAncestor(dialog, GA_PARENT) == GetDesktopWindow();
    bool visibleAfterCreation = IsWindowVisible(dialog);
    ShowWindow(dialog, SW_SHOW);
    bool visibleAfterShow = IsWindowVisible(dialog);
    // What a stray key would reach: the active and the foreground window,
    // also after a program asks for this one to come forward.
    SetForegroundWindow(dialog);
    SetActiveWindow(dialog);
    bool active = GetActiveWindow() == dialog || GetForegroundWindow() == dialog;
    DestroyWindow(dialog);

    std::string seen = std::string(" (on the desktop: ") + (onDesktop ? "yes" : "no") +
                       ", visible after creation: " + (visibleAfterCreation ? "yes" : "no") +
                       ", after ShowWindow: " + (visibleAfterShow ? "yes" : "no") +
                       ", active or foreground: " + (active ? "yes" : "no") + ")";
    bool ok = false;
    switch (way) {
    case Way::Shown: ok = onDesktop && visibleAfterCreation; break;
    case Way::MessageOnly: ok = !onDesktop && !visibleAfterCreation; break;
    case Way::NoMessageParent:
        ok = onDesktop && !visibleAfterCreation && !visibleAfterShow && !active;
        break;
    }
    return (ok ? "ok" : "FAIL") + seen;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hideprobe OUTPUT\n");
        return 2;
    }
    const std::pair<const char *, Way> ways[] = {{"shown", Way::Shown},
                                                 {"message-only", Way::MessageOnly},
                                                 {"no-message-parent", Way::NoMessageParent}};
    std::string report;
    bool allOk = true;
    for (const auto &[name, way] : ways) {
        std::string result = Check(way);
        allOk = allOk && result.compare(0, 2, "ok") == 0;
        report += std::string(name) + ": " + result + "\n";
    }
    FILE *out = std::fopen(argv[1], "w");
    if (!out) return 2;
    std::fputs(report.c_str(), out);
    return std::fclose(out) == 0 && allOk ? 0 : 1;
}
