#include "app/updater/worker_thread.h"
#include "payload/resource_layout.h"

#include "platform/win32/win32_dialog_controls.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_services.h"
#include "run/dialog_updates.h"
#include "update/extract_worker.h"

namespace fwpack {

RunState &TheRunState() {
    // Never destroyed: after an abort the process may end while the worker
    // still runs, and the worker must not read a destroyed folder name.
    static RunState &state = *new RunState;
    return state;
}

DWORD WINAPI ExtractWorkerThread(LPVOID window) {
    Win32FileSystem files;
    Win32Resources resources(GetModuleHandleA(nullptr), kResourceType);
    Win32DialogControls dialog{static_cast<HWND>(window), control::Progress};
    Win32MessageBoxes boxes;
    Win32Processes programs;
    Win32ResultValues results;
    Win32Restart restart;
    Win32Clock clock;
    WorkerContext context{files,   resources, dialog, boxes,       programs,
                          results, restart,   clock,  TheRunState()};
    return DWORD(ExtractWorker(context));
}

}  // namespace fwpack
