#include "platform/win32/win32_services.h"

#include <string>
#include <vector>

namespace fwpack {

std::optional<StartedProcess> Win32Processes::Start(std::string_view application,
                                                    std::string_view commandLine,
                                                    std::string_view folder) {
    // CreateProcessA may write into the command line: give it its own copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    std::string app(application), dir(folder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(app.empty() ? nullptr : app.c_str(), line.data(), nullptr, nullptr, FALSE,
                        0, nullptr, dir.empty() ? nullptr : dir.c_str(), &startup, &info))
        return std::nullopt;
    return StartedProcess{uintptr_t(info.hProcess), uintptr_t(info.hThread)};
}

uint32_t Win32Processes::Wait(const StartedProcess &process) {
    return WaitForSingleObject(HANDLE(process.Process), INFINITE);
}

std::optional<uint32_t> Win32Processes::ExitCode(const StartedProcess &process) {
    DWORD code = 0;
    if (!GetExitCodeProcess(HANDLE(process.Process), &code)) return std::nullopt;
    return uint32_t(code);
}

void Win32Processes::Close(const StartedProcess &process) {
    CloseHandle(HANDLE(process.Process));
    CloseHandle(HANDLE(process.Thread));
}

}  // namespace fwpack
