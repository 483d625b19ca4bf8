// DOS without a long-name driver creates only short names: up to eight
// characters, then optionally a dot and up to three, from ASCII letters,
// digits and the punctuation DOS allows. Names the DOS updater unpacks must
// be such names; the rule itself is the updater's (payload/dos_names.h), so
// the builder and the updater agree on every name.
#pragma once
#include <string>
#include <string_view>

namespace fwpack {

bool IsDosShortName(std::string_view name);

// The one line that says why a name is refused.
std::string DosShortNameRule();

}  // namespace fwpack
