// The UEFI package: the UEFI updater (an x86_64 EFI application) followed
// by the tagged resources exactly as a Linux package appends them. The
// firmware loads only the application's sections; the updater finds the
// resources by the same tag scan over its own file as on DOS. A signed
// package ends with its certificate table, which the signature's digest
// leaves out and which must come last, after the resources it covers.

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/container/pe_package.h"
#include "tools/fwpack/pe/image.h"

namespace fwpack {
namespace {

// The optional header's Subsystem sits at the same offset in PE32 and
// PE32+ headers, so a PE of either kind is told by it.
bool ReadSubsystem(const std::vector<uint8_t> &file, uint16_t &subsystem) {
    uint32_t peOffset = 0;
    return LooksLikePe(file) && ReadU32(file.data(), file.size(), 0x3c, peOffset) &&
           ReadU16(file.data(), file.size(), size_t(peOffset) + 24 + pe_opt::Subsystem, subsystem);
}

// The end of the bytes before the certificate table (the file's size when
// there is none); false when a table is there but is not the file's last
// bytes, behind the section data.
bool UnsignedEnd(const std::vector<uint8_t> &file, const PeImage &image, size_t &end,
                 std::string &error) {
    end = file.size();
    if (image.Directories.size() <= kDirectorySecurity) return true;
    const PeDirectory &table = image.Directories[kDirectorySecurity];
    if (table.Rva == 0 && table.Size == 0) return true;
    if (table.Rva < SectionDataEnd(image) || uint64_t(table.Rva) + table.Size != file.size()) {
        error = "the certificate table at " + std::to_string(table.Rva) + " (" +
                std::to_string(table.Size) + " bytes) is not the last bytes of the " +
                std::to_string(file.size()) + "-byte file";
        return false;
    }
    end = table.Rva;
    return true;
}

void SetChecksum(std::vector<uint8_t> &file, const PeImage &image) {
    const size_t at = image.OptionalOffset + pe_opt::CheckSum;
    PutU32(file.data() + at, ComputePeChecksum(file, at));
}

}  // namespace

bool LooksLikeEfiPackage(const std::vector<uint8_t> &file) {
    uint16_t subsystem = 0;
    return ReadSubsystem(file, subsystem) && subsystem == kSubsystemEfiApplication;
}

std::string EfiApplicationProblem(const std::vector<uint8_t> &file) {
    PeImage image;
    std::string error;
    if (ParsePeImage(file, image, error) != PeError::None) return error;
    if (image.Subsystem != kSubsystemEfiApplication)
        return "subsystem " + std::to_string(image.Subsystem) + ", not " +
               std::to_string(kSubsystemEfiApplication) + " (EFI application)";
    if (std::string problem = PeLayoutProblem(image); !problem.empty()) return "layout: " + problem;
    if (std::string problem = SectionDataGapProblem(image); !problem.empty())
        return "layout: " + problem;
    return "";
}

bool ReadEfiPackage(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error) {
    out.clear();
    PeImage image;
    std::string why;
    size_t end = 0;
    if (ParsePeImage(file, image, why) != PeError::None || !UnsignedEnd(file, image, end, why) ||
        !ScanTaggedResources(file, end, out, why)) {
        error = "UEFI package: " + why;
        return false;
    }
    return true;
}

bool WriteEfiPackage(const std::string &efiStubPath, const ResourceSet &set,
                     const std::string &outPath, std::string &error,
                     const PackageFinisher &finish) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(efiStubPath, bytes, error)) return false;
    const std::string name = "EFI stub " + efiStubPath;
    if (std::string problem = EfiApplicationProblem(bytes); !problem.empty()) {
        error = name + ": " + problem;
        return false;
    }
    PeImage image;
    ParsePeImage(bytes, image, error);
    // A signature of the stub alone would not cover the resources.
    DropCertificate(bytes, image);
    if (!AppendTaggedResources(bytes, name, set, error)) return false;
    SetChecksum(bytes, image);
    if (finish && !finish(bytes, error)) return false;
    return WriteFileAtomically(outPath, bytes, error, 0644);
}

std::vector<std::string> EfiPackageProblems(const std::vector<uint8_t> &file) {
    std::vector<std::string> problems;
    if (std::string problem = EfiApplicationProblem(file); !problem.empty())
        problems.push_back("EFI application: " + problem);
    PeImage image;
    std::string error;
    size_t end = 0;
    ResourceSet before;
    if (ParsePeImage(file, image, error) != PeError::None) return problems;
    if (!UnsignedEnd(file, image, end, error)) {
        problems.push_back("certificate table: " + error);
        return problems;
    }
    // The updater scans its whole file, certificate table included.
    if (ScanTaggedResources(file, end, before, error) && !ScanFindsResources(file, before, error))
        problems.push_back("tag scan: " + error);
    return problems;
}

}  // namespace fwpack
