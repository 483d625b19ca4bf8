// DeleteFolderTree: the permanent recursive delete behind one trailing
// separator and an existence test.
#include "run/folder_tree.h"

#include <string>

#include "run/run_state.h"

namespace fwpack {

bool DeleteFolderTree(FileSystem &files, std::string_view path) {
    // The path travels in a 260-byte buffer: a longer one would be cut and
    // name another folder, so it is refused instead.
    if (path.size() >= kPathBufferSize) return false;
    std::string target(path);
    if (!target.empty() && target.back() == files.Separator()) target.pop_back();
    if (target.empty() || !files.Exists(target)) return true;
    return files.DeleteTree(target);
}

}  // namespace fwpack
