// Turns a manifest into the five resources: reads the tool folders and the
// images, checks everything a reader of the package relies on, builds the
// file packages and the option block, and compresses with a 1 KiB window.
#pragma once
#include <string>
#include <vector>

#include "tools/fwpack/container/container.h"
#include "tools/fwpack/manifest/manifest.h"
#include "tools/fwpack/manifest/name_rules.h"
#include "payload/dos_limits.h"
#include "payload/file_package.h"

namespace fwpack {


// Where the files of a build go: which package, and whether the package
// runs on the Linux updater. key names the manifest key in error lines
// ("windows.tools").
struct NameTarget {
    std::string Key;
    NameUse Use = NameUse::WindowsTool;
    bool LinuxPackage = false;
};

// Every file of dir (symbolic links followed; an entry that is no regular
// file stops the read with a line naming it),
// sorted by name, with its bytes and its three times.
bool ReadToolFolder(const std::string &dir, const NameTarget &target,
                    std::vector<PackageFile> &out, std::string &error);

// The first pair of names that Windows and DOS take for the same file
// (they differ only in ASCII case), as indexes a < b; false when none.
bool FindCaseCollision(const std::vector<std::string> &names, size_t &a, size_t &b);

// One image file as the single record of the BIOS or ME package.
bool ReadImageFile(const std::string &path, const NameTarget &target, PackageFile &out,
                   std::string &error);

struct BuildSettings {
    int Level = 6;              // deflate level 0..9
    bool LinuxPackage = false;  // for the Linux updater (--dos-stub)
    bool UefiPackage = false;   // for the UEFI updater (--efi-stub)
};

// The five resources 2000..2004 for m. Without a [dos] section resource 2000
// is an empty package (count 0), compressed like any other, so that the DOS
// updater still finds all four tags; a Linux package needs the section. A
// UEFI package takes [uefi] (required) where the others take [dos]: its
// tools fill resource 2000 and its programs the option block's DOS fields.
// error: "<manifest>: <key>: <problem>".
bool BuildPayload(const Manifest &m, const BuildSettings &settings, ResourceSet &out,
                  std::string &error);

}  // namespace fwpack
