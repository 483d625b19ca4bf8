// The names a package may give its files and images, wherever they are
// checked: when a package is built and when it is verified. A name must be
// one that Windows can create; the DOS updater must not take it for one of
// its work files; a Linux package's updater runs its tools through a shell,
// so there only a portable set of characters is allowed.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace fwpack {

enum class NameUse {
    WindowsTool,  // a file of the ToolPackage
    DosTool,      // a file of the DosPackage
    Image,        // the BIOS or the ME image
};

// What is wrong with name for use (the name quoted, then the rule), or ""
// when nothing is. linuxPackage: the package runs on the Linux updater.
std::string NameProblem(std::string_view name, NameUse use, bool linuxPackage);

// True when the DOS folder would take a and b for one file (ASCII case
// folded).
bool SameDosName(std::string_view a, std::string_view b);

// What keeps name from being a file that the DOS updater unpacks into the
// folder it was started in (the rule, after the quoted name), or "" when
// nothing does: a name DOS cannot create as it stands, a device name, or
// the name of a file a DOS boot disk needs.
std::string DosNameProblem(std::string_view name);

// Whether the UEFI updater would run name as a program: it ends in ".efi"
// (an EFI application) or ".nsh" (a shell script), in any case, as the
// UEFI side of the seam names its programs.
bool IsUefiProgramName(std::string_view name);
// The rule IsUefiProgramName checks, for error lines after a quoted name.
const char *UefiProgramRule();

// The first two names that DOS files as one (case folded, after its 8.3
// mapping), as indexes a < b; false when none.
bool FindDosCollision(const std::vector<std::string> &names, size_t &a, size_t &b);

}  // namespace fwpack
