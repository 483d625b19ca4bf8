// Deleting a folder with everything in it.
#pragma once
#include <string_view>

#include "platform/files.h"

namespace fwpack {

// Removes one trailing separator; true at once when the path does not exist
// (an empty path included); otherwise the platform's permanent recursive
// delete, true when it reports success. A path that does not fit 260 bytes
// is refused (false) and nothing is deleted.
bool DeleteFolderTree(FileSystem &files, std::string_view path);

}  // namespace fwpack
