// The Windows package .exe: the program stub with the "SETUP" resources
// 2000..2004 (language 1033) in its resource section. The in-memory forms
// behind ReadPeResources and WritePePackage (container.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "payload/resource_layout.h"
#include "tools/fwpack/container/container.h"

namespace fwpack {

enum class PeBuildError { None, NotPe, NotAmd64, Damaged, HasSetup, NoRoom, TooLarge };

// The stub's bytes with set's resources added as "SETUP"/id/1033; the
// stub's own resources are carried over unchanged. With replace, every
// "SETUP" resource the stub holds is dropped first; without it such a stub
// is refused (HasSetup).
PeBuildError BuildPePackage(const std::vector<uint8_t> &stub, const ResourceSet &set, bool replace,
                            std::vector<uint8_t> &out, std::string &error);

// Cuts the stub's certificate table off the end of file (where it stands
// behind the section data) and clears its directory entry.
struct PeImage;
void DropCertificate(std::vector<uint8_t> &file, const PeImage &image);

// One "SETUP" resource with an id from 2000 to 2004, in any language.
struct PeSetupResource {
    uint16_t Id = 0;
    uint16_t Language = 0;
    uint32_t CodePage = 0;
    std::vector<uint8_t> Bytes;
};

// Every "SETUP" resource 2000..2004 of the image, all languages, in
// directory order. False when the image or its resource tree is damaged.
bool ReadPeSetupResources(const std::vector<uint8_t> &file, std::vector<PeSetupResource> &out,
                          std::string &error);

}  // namespace fwpack
