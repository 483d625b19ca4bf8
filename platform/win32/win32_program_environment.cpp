#include "platform/win32/win32_services.h"

#include <string>
#include <vector>

namespace fwpack {

std::string Win32ProgramEnvironment::ModuleFileName() {
    // Grow until the whole path fits; callers cut it to their own buffers.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 32768) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::string Win32ProgramEnvironment::CommandLine() {
    const char *line = GetCommandLineA();
    return line ? line : "";
}

bool Win32ProgramEnvironment::HaveInstanceHandle() { return GetModuleHandleA(nullptr) != nullptr; }

bool Win32ProgramEnvironment::MutexAlreadyExists(std::string_view name) {
    // The handle is never closed: the mutex lives exactly as long as the process.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, std::string(name).c_str());
    return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

bool Win32ProgramEnvironment::WritePrivateProfile(std::string_view path, std::string_view section,
                                                 std::string_view key, std::string_view value) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), std::string(path).c_str()) != 0;
}

}  // namespace fwpack
