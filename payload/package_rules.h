// What a FilePackage reader finds wrong with a package, and the rule for
// the names of its files. Freestanding: shared by the builder's and the
// Windows program's readers and the DOS updater's.
#pragma once
#include <cstddef>

namespace fwpack {

enum class PackageError {
    None,
    TooShort,            // fewer than 4 bytes
    TableOverflow,       // 4 + count x 300 runs past the end (or overflows)
    NameNotTerminated,   // a FileName without NUL in its 260 bytes
    NameNotBare,         // a FileName that would leave its folder
    SizePastEnd,         // the files' bytes run past the end
    TrailingBytes,       // bytes after the last file
};
const char *PackageErrorText(PackageError e);

// A name that can be joined to a folder without leaving it: not empty,
// not "." or "..", and no '\\', '/', ':' or NUL among its length bytes.
bool IsBareName(const char *name, size_t length);

}  // namespace fwpack
