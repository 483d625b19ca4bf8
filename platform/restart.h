// Restarting the machine.
#pragma once

namespace fwpack {

class SystemRestart {
  public:
    virtual ~SystemRestart() = default;
    // Enables the shutdown privilege of the process token and starts a forced
    // restart (on Windows: OpenProcessToken with TOKEN_ADJUST_PRIVILEGES |
    // TOKEN_QUERY, LookupPrivilegeValueA "SeShutdownPrivilege",
    // AdjustTokenPrivileges with SE_PRIVILEGE_ENABLED; false when the token
    // cannot be opened or GetLastError() is not 0 right after the adjustment;
    // then ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0x80020003)). True when the
    // restart was started; the call does not wait for it.
    virtual bool RestartSystem() = 0;
};

}  // namespace fwpack
