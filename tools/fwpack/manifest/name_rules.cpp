#include "tools/fwpack/manifest/name_rules.h"

#include <algorithm>
#include <cstring>

#include "dos/work_files.h"
#include "payload/dos_names.h"
#include "platform/dos_platform.h"
#include "tools/fwpack/manifest/dos_short_name.h"
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

// The files DOS boots from and reads at start-up: a package unpacked on a
// boot disk's root must never overwrite one of them.
constexpr const char *kDosBootFiles[] = {"COMMAND.COM", "AUTOEXEC.BAT", "CONFIG.SYS", "IO.SYS",
                                         "MSDOS.SYS",   "KERNEL.SYS",   "IBMBIO.COM", "IBMDOS.COM",
                                         "FDCONFIG.SYS", "FDAUTO.BAT"};

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

std::string DosNameProblem(std::string_view name) {
    if (!IsDosShortName(name)) return "is " + DosShortNameRule();
    if (IsDosDeviceName(name.data(), name.size()))
        return "is the name of a DOS device, which DOS opens in place of a file";
    const std::string text(name);
    for (const char *boot : kDosBootFiles)
        if (SameDosFile(text.c_str(), boot))
            return "is the name of a file a DOS boot disk needs; unpacking would overwrite it";
    return "";
}

bool IsUefiProgramName(std::string_view name) {
    return HasProgramExtension(std::string(name).c_str(), kUefiProgramExtensions);
}

const char *UefiProgramRule() {
    return "is not a program the UEFI shell runs (a .efi application or a .nsh script)";
}

bool FindDosCollision(const std::vector<std::string> &names, size_t &a, size_t &b) {
    for (b = 1; b < names.size(); ++b)
        for (a = 0; a < b; ++a)
            if (SameDosFile(names[a].c_str(), names[b].c_str())) return true;
    return false;
}

}  // namespace fwpack
