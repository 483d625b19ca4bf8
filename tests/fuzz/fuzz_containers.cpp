// Arbitrary bytes into the container readers of the builder: a package
// .exe's resource section, a Linux package's appended resources and a UEFI
// package's (with verify's checks of its EFI application and table).
#include <string>
#include <vector>

#include "tools/fwpack/container/container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    fwpack::ResourceSet set;
    std::string error;
    if (fwpack::LooksLikePe(file)) fwpack::ReadPeResources(file, set, error);
    set.clear();
    if (fwpack::LooksLikeRunPackage(file)) fwpack::ReadRunPackage(file, set, error);
    // Also without the cheap sniffing, so the readers' own checks are exercised.
    set.clear();
    fwpack::ReadPeResources(file, set, error);
    set.clear();
    fwpack::ReadRunPackage(file, set, error);
    set.clear();
    fwpack::ReadEfiPackage(file, set, error);
    fwpack::EfiPackageProblems(file);
    return 0;
}
