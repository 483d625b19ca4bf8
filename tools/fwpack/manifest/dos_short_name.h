// DOS without a long-name driver creates only short names: up to eight
// characters, then optionally a dot and up to three, from letters, digits,
// bytes above 0x7F and the punctuation DOS allows. Names the DOS updater
// unpacks must be such names.
#pragma once
#include <string>
#include <string_view>

namespace fwpack {

bool IsDosShortName(std::string_view name);

// The one line that says why a name is refused.
std::string DosShortNameRule();

}  // namespace fwpack
