// Temp names: the unique number, fresh folders under the temp root and the
// scratch file names.
#include "run/temp_names.h"

#include <cstdio>

#include "run/run_state.h"

namespace fwpack {

uint32_t UniqueTempNumber(uint32_t tick) {
    // Wrapping signed multiply, done unsigned to stay defined.
    int32_t product = int32_t(tick * 12345u);
    return uint32_t(product / 5987);
}

std::string TempFolderName(FileSystem &files, Clock &clock, std::string_view root,
                           std::string_view prefix) {
    if (root.empty()) return {};
    std::optional<std::string> name =
        files.TempFileName(root, prefix, UniqueTempNumber(clock.TickCount()));
    if (!name) return {};
    // The folder is later deleted as a whole tree: accept only a name that
    // is one level strictly below root.
    if (name->size() <= root.size() || name->compare(0, root.size(), root) != 0) return {};
    if (name->find(files.Separator(), root.size()) != std::string::npos) return {};
    name->push_back(files.Separator());
    if (name->size() >= kPathBufferSize) return {};
    return *name;
}

static std::string HexName(std::string_view root, uint32_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", unsigned(value));
    std::string out(root);
    out += digits;
    return out;
}

std::string ScratchNameA(std::string_view root, uint32_t tick) { return HexName(root, tick); }

std::string ScratchNameB(std::string_view root, uint32_t tick) {
    return HexName(root, (tick * 12345u) / 8725u);
}

}  // namespace fwpack
