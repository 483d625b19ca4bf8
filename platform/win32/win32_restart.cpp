#include "platform/win32/win32_services.h"

namespace fwpack {

bool Win32Restart::RestartSystem() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();   // ERROR_NOT_ALL_ASSIGNED when the privilege is not held
    CloseHandle(token);
    if (error != 0) return false;
    // EWX_REBOOT | EWX_FORCE; planned, operating system, upgrade.
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0x80020003) != 0;
}

}  // namespace fwpack
