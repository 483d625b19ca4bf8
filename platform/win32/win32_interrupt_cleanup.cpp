// Temporaries removed when a console event stops the program (Windows).
// The system calls the handler on a thread of its own, so the list is
// guarded by a lock rather than kept in fixed storage as on Linux.
#include "platform/interrupt_cleanup.h"

#include <algorithm>
#include <vector>

#include "platform/win32/win32_utf8.h"

namespace fwpack {
namespace {

SRWLOCK gLock = SRWLOCK_INIT;
std::vector<std::wstring> *gPaths = nullptr;   // never freed: the handler may run at exit
bool gStopping = false;

// Every event ends the program by default; the temporaries go first. A
// temporary still open is deleted when its handle closes (it is shared for
// deletion), which the end of the program does.
BOOL WINAPI RemoveTemporaries(DWORD event) {
    AcquireSRWLockExclusive(&gLock);
    gStopping = true;
    for (const std::wstring &path : *gPaths) DeleteFileW(path.c_str());
    gPaths->clear();
    ReleaseSRWLockExclusive(&gLock);
    // Ctrl-C and Ctrl-Break end the program with the status Windows gives
    // them, here rather than in the default handler, which under Wine ends
    // it with 0 as if the command had succeeded.
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;   // on to the default handler, which ends the program
}

}  // namespace

void RemoveOnInterrupt(const std::string &path) {
    AcquireSRWLockExclusive(&gLock);
    if (!gPaths) {
        gPaths = new std::vector<std::wstring>;
        SetConsoleCtrlHandler(RemoveTemporaries, TRUE);
    }
    // Made after the handler ran, while the program is being ended.
    if (gStopping) DeleteFileW(Wide(path).c_str());
    else gPaths->push_back(Wide(path));
    ReleaseSRWLockExclusive(&gLock);
}

void ForgetOnInterrupt(const std::string &path) {
    AcquireSRWLockExclusive(&gLock);
    if (gPaths) {
        auto it = std::find(gPaths->begin(), gPaths->end(), Wide(path));
        if (it != gPaths->end()) gPaths->erase(it);
    }
    ReleaseSRWLockExclusive(&gLock);
}

}  // namespace fwpack
