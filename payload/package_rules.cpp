#include "payload/package_rules.h"

namespace fwpack {

bool IsBareName(const char *name, size_t length) {
    if (length == 0 || (length == 1 && name[0] == '.') ||
        (length == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    for (size_t i = 0; i < length; ++i)
        if (name[i] == '\\' || name[i] == '/' || name[i] == ':' || name[i] == '\0') return false;
    return true;
}

const char *PackageErrorText(PackageError e) {
    switch (e) {
    case PackageError::None: return "consistent";
    case PackageError::TooShort: return "shorter than its 4-byte count";
    case PackageError::TableOverflow: return "the record table runs past the end of the package";
    case PackageError::NameNotTerminated: return "a file name has no NUL within its 260 bytes";
    case PackageError::NameNotBare: return "a file name is not a bare name (empty, \".\", \"..\", or holds '\\', '/' or ':')";
    case PackageError::SizePastEnd: return "the files' sizes run past the end of the package";
    case PackageError::TrailingBytes: return "bytes follow the last file";
    }
    return "unknown error";
}

}  // namespace fwpack
