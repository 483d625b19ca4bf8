#include "tools/fwpack/manifest/dos_short_name.h"

#include "payload/dos_names.h"

namespace fwpack {

bool IsDosShortName(std::string_view name) { return IsDosShortName(name.data(), name.size()); }

std::string DosShortNameRule() {
    return "not a DOS 8.3 name (up to 8 characters, a dot and up to 3; DOS without a long-name "
           "driver cannot create it)";
}

}  // namespace fwpack
