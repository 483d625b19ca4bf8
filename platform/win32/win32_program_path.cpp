// Windows names the running program's file through its module handle; the
// buffer grows until the whole path fits (long paths exceed MAX_PATH).
#include <windows.h>

#include <vector>

#include "platform/program_path.h"
#include "platform/win32/win32_utf8.h"

namespace fwpack {

std::string ProgramFilePath() {
    for (DWORD room = MAX_PATH; room <= 32768; room *= 2) {
        std::vector<wchar_t> path(room);
        DWORD n = GetModuleFileNameW(nullptr, path.data(), room);
        if (n == 0) return "";
        if (n < room) return Utf8(path.data());
    }
    return "";
}

}  // namespace fwpack
