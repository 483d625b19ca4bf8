#include "tools/fwpack/manifest/dos_short_name.h"

namespace fwpack {
namespace {

bool IsDosNameCharacter(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 0x80)
        return true;
    return std::string_view("!#$%&'()-@^_`{}~").find(char(c)) != std::string_view::npos;
}

bool IsNamePart(std::string_view part, size_t room) {
    if (part.empty() || part.size() > room) return false;
    for (char c : part)
        if (!IsDosNameCharacter(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

bool IsDosShortName(std::string_view name) {
    size_t dot = name.find('.');
    if (dot == std::string_view::npos) return IsNamePart(name, 8);
    return IsNamePart(name.substr(0, dot), 8) && IsNamePart(name.substr(dot + 1), 3);
}

std::string DosShortNameRule() {
    return "not a DOS 8.3 name (up to 8 characters, a dot and up to 3; DOS without a long-name "
           "driver cannot create it)";
}

}  // namespace fwpack
