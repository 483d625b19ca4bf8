// Linux names the running program's file in /proc/self/exe, links resolved.
#include <unistd.h>

#include "platform/program_path.h"

namespace fwpack {

std::string ProgramFilePath() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || size_t(n) >= path.size()) return "";
    path.resize(size_t(n));
    return path;
}

}  // namespace fwpack
