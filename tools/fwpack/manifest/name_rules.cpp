#include "tools/fwpack/manifest/name_rules.h"

#include <algorithm>
#include <cstring>

#include "dos/work_files.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace fwpack {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with any
// extension and with spaces before it.
bool IsWindowsDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), Lower);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string WindowsProblem(std::string_view name) {
    for (unsigned char c : name) {
        if (c < 0x20) return "holds a control character, which Windows does not allow in a file name";
        if (std::strchr("<>:\"/\\|?*", c))
            return std::string("holds '") + char(c) + "', which Windows does not allow in a file name";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "ends with a dot or a space, which Windows drops from a file name";
    if (IsWindowsDeviceName(name)) return "is a device name on Windows";
    return "";
}

bool Portable(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '_' || c == '-';
}

}  // namespace

std::string NameProblem(std::string_view name, NameUse use, bool linuxPackage) {
    std::string problem;
    if (name.empty()) problem = "is empty";
    if (problem.empty()) problem = WindowsProblem(name);
    if (problem.empty() && use != NameUse::WindowsTool &&
        IsDosWorkFileName(std::string(name).c_str()))
        problem = "is the name of a work file of the DOS updater";
    if (problem.empty() && linuxPackage && use != NameUse::WindowsTool &&
        !std::all_of(name.begin(), name.end(), Portable))
        problem = "holds characters other than letters, digits, '.', '_' and '-', which a "
                  "Linux package does not allow";
    return problem.empty() ? "" : Quoted(name) + " " + problem;
}

bool SameDosName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace fwpack
