// The Windows package .exe. The resource section is rebuilt whole, the way
// the system's own resource updater does it: read the stub's tree, add the
// "SETUP" entries, write a complete new directory. The new section is the
// image's last one, so nothing else in the image has to move.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/pe/dos_program.h"
#include "tools/fwpack/pe/image.h"
#include "tools/fwpack/container/pe_package.h"
#include "tools/fwpack/pe/resource_tree.h"

namespace fwpack {

namespace {

// Windows XP's loader refuses images with more sections than this.
constexpr size_t kMaxSections = 96;
constexpr char kOldResourceName[] = ".rsrcold";

PeBuildError FromPeError(PeError e) {
    switch (e) {
    case PeError::None: return PeBuildError::None;
    case PeError::NotPe: return PeBuildError::NotPe;
    case PeError::NotAmd64: return PeBuildError::NotAmd64;
    case PeError::Damaged: break;
    }
    return PeBuildError::Damaged;
}

// Index of the section the resource directory starts in, or -1.
long ResourceSectionIndex(const PeImage &image) {
    if (image.Directories.size() <= kDirectoryResource) return -1;
    uint32_t rva = image.Directories[kDirectoryResource].Rva;
    if (rva == 0) return -1;
    for (size_t i = 0; i < image.Sections.size(); ++i) {
        const PeSection &s = image.Sections[i];
        if (rva >= s.VirtualAddress && rva < s.VirtualEnd()) return long(i);
    }
    return -1;
}

bool AllZero(const std::vector<uint8_t> &bytes, size_t from, size_t length) {
    return std::all_of(bytes.begin() + long(from), bytes.begin() + long(from + length),
                       [](uint8_t b) { return b == 0; });
}

void WriteSectionHeader(uint8_t *h, const char *name, uint32_t virtualSize, uint32_t rva,
                        uint32_t rawSize, uint32_t rawPointer, uint32_t characteristics) {
    std::memset(h, 0, kSectionHeaderSize);
    std::memcpy(h, name, std::min<size_t>(std::strlen(name), 8));
    PutU32(h + 8, virtualSize);
    PutU32(h + 12, rva);
    PutU32(h + 16, rawSize);
    PutU32(h + 20, rawPointer);
    PutU32(h + 36, characteristics);
}

}  // namespace

// Drops a code signature: it no longer matches once the image changes, and
// it would sit between the sections and the new data.
void DropCertificate(std::vector<uint8_t> &file, const PeImage &image) {
    if (image.Directories.size() <= kDirectorySecurity) return;
    const PeDirectory &cert = image.Directories[kDirectorySecurity];
    if (cert.Rva == 0 && cert.Size == 0) return;
    // This directory holds a file offset, not an address.
    if (cert.Rva >= SectionDataEnd(image) && uint64_t(cert.Rva) + cert.Size == file.size()) file.resize(cert.Rva);
    uint8_t *entry = file.data() + image.OptionalOffset + pe_opt::DataDirectories + 8 * kDirectorySecurity;
    PutU32(entry, 0);
    PutU32(entry + 4, 0);
}

namespace {

// 1. The tree: the stub's resources plus ours.
PeBuildError AddSetupResources(ResourceNode &root, const ResourceSet &set, bool replace,
                               std::string &error) {
    const ResourceKey setupType = ResourceKey::FromName(kResourceType);
    if (root.Find(setupType)) {
        if (!replace) {
            error = "the stub already carries SETUP resources (use --replace to replace them)";
            return PeBuildError::HasSetup;
        }
        root.Remove(setupType);
    }
    if (set.empty()) return PeBuildError::None;
    ResourceNode &type = root.Child(setupType);
    for (const auto &[id, bytes] : set) {
        ResourceNode &lang = type.Child(ResourceKey::FromId(id)).Child(ResourceKey::FromId(kResourceLanguage));
        lang.IsDirectory = false;
        lang.Data = bytes;
    }
    return PeBuildError::None;
}

// 2. Where the section goes: in place when the resource section is already
// the image's last one, else a new last section.
struct Placement {
    long Rsrc = -1;           // the stub's resource section, or -1
    bool OwnSection = false;  // it holds nothing but the resources
    bool InPlace = false;     // ... and comes last: it is rewritten
    uint64_t Rva = 0;
    const PeSection *Reused = nullptr;
};

PeBuildError Place(const PeImage &image, Placement &p, std::string &error) {
    p.Rsrc = ResourceSectionIndex(image);
    const size_t count = image.Sections.size();
    // A resource directory inside some other section is left alone.
    p.OwnSection = p.Rsrc >= 0 && image.Sections[size_t(p.Rsrc)].Name == ".rsrc" &&
                   image.Directories[kDirectoryResource].Rva == image.Sections[size_t(p.Rsrc)].VirtualAddress;
    p.InPlace = p.OwnSection && size_t(p.Rsrc) == count - 1;
    p.Reused = p.InPlace ? &image.Sections[size_t(p.Rsrc)] : nullptr;
    p.Rva = p.InPlace ? image.Sections[size_t(p.Rsrc)].VirtualAddress
                      : AlignUp(count ? image.Sections.back().VirtualEnd() : image.SizeOfHeaders,
                                image.SectionAlignment);
    if (p.Rva > UINT32_MAX) {
        error = "the stub's address space is full";
        return PeBuildError::TooLarge;
    }
    return PeBuildError::None;
}

// 3. A new section header goes behind the section table; the old resource
// section, when it held only resources, keeps its place (so no address in
// the image changes) with its bytes cleared, so that no stale copy of a
// payload is left behind. characteristics: what the new header carries.
PeBuildError MakeRoomForHeader(const PeImage &image, const Placement &p, std::vector<uint8_t> &out,
                               uint32_t &characteristics, std::string &error) {
    characteristics = kScnInitializedData | kScnMemRead;
    if (p.Reused) return PeBuildError::None;
    const size_t count = image.Sections.size();
    const size_t newHeaderAt = image.SectionTableOffset + count * kSectionHeaderSize;
    uint64_t firstRaw = image.SizeOfHeaders;
    for (const PeSection &s : image.Sections)
        if (s.SizeOfRawData != 0) firstRaw = std::min<uint64_t>(firstRaw, s.PointerToRawData);
    if (count >= kMaxSections || newHeaderAt + kSectionHeaderSize > firstRaw ||
        newHeaderAt + kSectionHeaderSize > out.size() ||
        (count && newHeaderAt + kSectionHeaderSize > image.Sections.front().VirtualAddress) ||
        !AllZero(out, newHeaderAt, kSectionHeaderSize)) {
        error = "no room in the stub's section table for a new resource section";
        return PeBuildError::NoRoom;
    }
    if (p.OwnSection) {
        const PeSection &old = image.Sections[size_t(p.Rsrc)];
        characteristics = old.Characteristics;
        std::fill(out.begin() + old.PointerToRawData,
                  out.begin() + old.PointerToRawData + old.SizeOfRawData, 0);
        std::memcpy(out.data() + old.HeaderOffset, kOldResourceName, 8);
    }
    return PeBuildError::None;
}

// 4. The section's bytes go right behind the other sections' data, in place
// of the old resource bytes when those came last. Whatever followed (the
// COFF symbol table, say) moves behind the new bytes, so the file keeps its
// order: headers, section data, the rest. pointer: where the bytes landed.
PeBuildError SpliceSection(const PeImage &image, const PeSection *reused, uint64_t rva,
                           const std::vector<uint8_t> &section, std::vector<uint8_t> &out,
                           uint64_t &pointer, std::string &error) {
    uint64_t dataEnd = image.SizeOfHeaders;
    for (const PeSection &s : image.Sections)
        if (&s != reused && s.SizeOfRawData != 0)
            dataEnd = std::max<uint64_t>(dataEnd, uint64_t(s.PointerToRawData) + s.SizeOfRawData);
    uint64_t cut = dataEnd, cutEnd = dataEnd;
    if (reused && reused->SizeOfRawData != 0) {
        if (reused->PointerToRawData >= dataEnd) {
            cut = reused->PointerToRawData;
            cutEnd = cut + reused->SizeOfRawData;
        } else {
            std::fill(out.begin() + reused->PointerToRawData,
                      out.begin() + reused->PointerToRawData + reused->SizeOfRawData, 0);
        }
    }
    cut = std::min<uint64_t>(cut, out.size());
    cutEnd = std::min<uint64_t>(cutEnd, out.size());
    pointer = AlignUp(cut, image.FileAlignment);
    // A low-alignment image maps its file as it stands: the new section's
    // bytes go at its address.
    if (image.SectionAlignment < kPageSize && rva >= pointer) pointer = rva;
    if (pointer + section.size() + (out.size() - cutEnd) > UINT32_MAX) {
        error = "the package would be larger than 4 GiB";
        return PeBuildError::TooLarge;
    }
    std::vector<uint8_t> tail(out.begin() + long(cutEnd), out.end());
    out.resize(size_t(cut));
    out.resize(size_t(pointer), 0);
    out.insert(out.end(), section.begin(), section.end());
    out.insert(out.end(), tail.begin(), tail.end());
    if (image.PointerToSymbolTable != 0 && image.PointerToSymbolTable >= cutEnd)
        PutU32(out.data() + image.FileHeaderOffset + 8,
               uint32_t(image.PointerToSymbolTable + (pointer + section.size()) - cutEnd));
    return PeBuildError::None;
}

// 5. The section header (the old one updated or a new one) and the
// optional header: sizes, the resource directory entry, the checksum.
void WriteHeaders(const PeImage &image, const Placement &p, uint32_t characteristics,
                  uint32_t virtualSize, uint64_t rawSize, uint64_t pointer, std::vector<uint8_t> &out) {
    int64_t initializedDelta;
    if (p.Reused) {
        uint8_t *h = out.data() + p.Reused->HeaderOffset;
        PutU32(h + 8, virtualSize);
        PutU32(h + 16, uint32_t(rawSize));
        PutU32(h + 20, uint32_t(pointer));
        initializedDelta = (p.Reused->Characteristics & kScnInitializedData)
                               ? int64_t(rawSize) - int64_t(p.Reused->SizeOfRawData) : 0;
    } else {
        const size_t count = image.Sections.size();
        WriteSectionHeader(out.data() + image.SectionTableOffset + count * kSectionHeaderSize, ".rsrc",
                           virtualSize, uint32_t(p.Rva), uint32_t(rawSize), uint32_t(pointer),
                           characteristics);
        PutU16(out.data() + image.FileHeaderOffset + 2, uint16_t(count + 1));
        initializedDelta = int64_t(rawSize);
    }
    uint8_t *opt = out.data() + image.OptionalOffset;
    PutU32(opt + pe_opt::SizeOfInitializedData,
           uint32_t(int64_t(ReadU32(opt + pe_opt::SizeOfInitializedData)) + initializedDelta));
    PutU32(opt + pe_opt::SizeOfImage, uint32_t(AlignUp(p.Rva + virtualSize, image.SectionAlignment)));
    uint8_t *dir = opt + pe_opt::DataDirectories + 8 * kDirectoryResource;
    PutU32(dir, uint32_t(p.Rva));
    PutU32(dir + 4, virtualSize);
    PutU32(opt + pe_opt::CheckSum, ComputePeChecksum(out, image.OptionalOffset + pe_opt::CheckSum));
}

// A set whose tagged resources all carry their tags: what the DOS scan of a
// package can find at all (a set that does not is the payload checks'
// finding).
bool CarriesTags(const ResourceSet &set) {
    for (uint16_t id : {DosPackage, BiosPackage, OptionResource, MePackage}) {
        auto it = set.find(id);
        if (it == set.end() || ResourceIdForTag(it->second.data(), it->second.size(), 0) != id) return false;
    }
    return true;
}

// The package is checked as the loader will see it, so that a layout the
// steps above did not foresee is refused rather than written.
PeBuildError CheckWrittenLayout(const std::vector<uint8_t> &out, std::string &error) {
    PeImage written;
    if (ParsePeImage(out, written, error) != PeError::None) return PeBuildError::Damaged;
    if (std::string problem = PeLayoutProblem(written); !problem.empty()) {
        error = "the package's layout would be wrong: " + problem;
        return PeBuildError::Damaged;
    }
    return PeBuildError::None;
}

}  // namespace

bool LooksLikePe(const std::vector<uint8_t> &file) {
    uint32_t peOffset = 0;
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z' ||
        !ReadU32(file.data(), file.size(), 0x3c, peOffset))
        return false;
    return FitsInside(file.size(), peOffset, 4) && std::memcmp(file.data() + peOffset, "PE\0\0", 4) == 0;
}

PeBuildError BuildPePackage(const std::vector<uint8_t> &stub, const ResourceSet &set, bool replace,
                            std::vector<uint8_t> &out, std::string &error) {
    PeImage image;
    if (PeError e = ParsePeImage(stub, image, error); e != PeError::None) return FromPeError(e);
    if (image.Directories.size() <= kDirectoryResource) {
        error = "the stub's headers have no resource directory entry";
        return PeBuildError::Damaged;
    }
    if (std::string problem = PeLayoutProblem(image); !problem.empty()) {
        error = "the stub's layout: " + problem;
        return PeBuildError::Damaged;
    }
    ResourceNode root;
    if (!ParseResourceTree(stub, image, root, error)) return PeBuildError::Damaged;
    if (PeBuildError e = AddSetupResources(root, set, replace, error); e != PeBuildError::None) return e;

    out = stub;
    DropCertificate(out, image);
    Placement place;
    if (PeBuildError e = Place(image, place, error); e != PeBuildError::None) return e;
    std::vector<uint8_t> section;
    if (!SerializeResourceTree(root, uint32_t(place.Rva), section, error)) return PeBuildError::TooLarge;
    const uint32_t virtualSize = uint32_t(section.size());
    const uint64_t rawSize = AlignUp(section.size(), image.FileAlignment);
    section.resize(size_t(rawSize), 0);

    uint32_t characteristics = 0;
    uint64_t pointer = 0;
    if (PeBuildError e = MakeRoomForHeader(image, place, out, characteristics, error); e != PeBuildError::None)
        return e;
    if (PeBuildError e = SpliceSection(image, place.Reused, place.Rva, section, out, pointer, error); e != PeBuildError::None)
        return e;
    WriteHeaders(image, place, characteristics, virtualSize, rawSize, pointer, out);
    return CheckWrittenLayout(out, error);
}

bool ReadPeSetupResources(const std::vector<uint8_t> &file, std::vector<PeSetupResource> &out,
                          std::string &error) {
    out.clear();
    PeImage image;
    if (ParsePeImage(file, image, error) != PeError::None) return false;
    ResourceNode root;
    if (!ParseResourceTree(file, image, root, error)) return false;
    const ResourceNode *type = root.Find(ResourceKey::FromName(kResourceType));
    if (!type || !type->IsDirectory) return true;
    for (const auto &[name, node] : type->Entries) {
        if (name.IsName || name.Id < kFirstResourceId || name.Id > kLastResourceId) continue;
        if (!node.IsDirectory) {
            // A leaf one level up: no language level at all.
            out.push_back({name.Id, 0, node.CodePage, node.Data});
            continue;
        }
        for (const auto &[lang, leaf] : node.Entries) {
            if (lang.IsName || leaf.IsDirectory) continue;
            out.push_back({name.Id, lang.Id, leaf.CodePage, leaf.Data});
        }
    }
    return true;
}

bool ReadPeResources(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error) {
    std::vector<PeSetupResource> all;
    if (!ReadPeSetupResources(file, all, error)) return false;
    out.clear();
    // US English when an id has several languages, else the first found.
    for (const PeSetupResource &r : all)
        if (r.Language == kResourceLanguage) out[r.Id] = r.Bytes;
    for (const PeSetupResource &r : all)
        if (!out.count(r.Id)) out[r.Id] = r.Bytes;
    if (out.empty()) {
        error = "no SETUP resources 2000-2004 in this executable";
        return false;
    }
    return true;
}

namespace {

// pe with the DOS program at dosProgramPath in front of its headers.
bool PutDosProgram(std::vector<uint8_t> &pe, const std::string &peName,
                   const std::string &dosProgramPath, std::string &error) {
    std::vector<uint8_t> dos, dualMode;
    if (!ReadWholeFile(dosProgramPath, dos, error)) return false;
    if (!InsertDosProgram(pe, dos, dualMode, error)) {
        error = "DOS program " + dosProgramPath + " with " + peName + ": " + error;
        return false;
    }
    pe.swap(dualMode);
    return true;
}

}  // namespace

bool WritePePackage(const std::string &stubPath, const ResourceSet &set, const std::string &outPath,
                    bool replace, std::string &error, const std::string &dosProgramPath,
                    const PackageFinisher &finish) {
    std::vector<uint8_t> stub, package;
    if (!ReadWholeFile(stubPath, stub, error)) return false;
    if (BuildPePackage(stub, set, replace, package, error) != PeBuildError::None) {
        error = "stub " + stubPath + ": " + error;
        return false;
    }
    if (!dosProgramPath.empty() && !PutDosProgram(package, "stub " + stubPath, dosProgramPath, error))
        return false;
    // Every package .exe may be started from DOS, whose updater finds the
    // resources by their tags alone.
    if (CarriesTags(set) && !ScanFindsResources(package, set, error)) return false;
    if (finish && !finish(package, error)) return false;
    return WriteFileAtomically(outPath, package, error, 0755);
}

bool WriteDualModeProgram(const std::string &pePath, const std::string &dosProgramPath,
                          const std::string &outPath, std::string &error) {
    std::vector<uint8_t> pe;
    if (!ReadWholeFile(pePath, pe, error)) return false;
    if (!PutDosProgram(pe, pePath, dosProgramPath, error)) return false;
    return WriteFileAtomically(outPath, pe, error, 0755);
}

bool DescribeDosProgram(const std::string &path, std::string &line, std::string &error) {
    std::vector<uint8_t> file;
    return ReadWholeFile(path, file, error) && DescribeDosProgram(file, line, error);
}

bool DescribeDosProgram(const std::vector<uint8_t> &file, std::string &line, std::string &error) {
    PeImage image;
    if (ParsePeImage(file, image, error) != PeError::None) return false;
    DosProgramInfo dos;
    if (!ReadDosProgram(file, image.PeOffset, dos, error)) return false;
    char text[200];
    std::snprintf(text, sizeof text,
                  "DOS program: %u bytes (header %u), %u bytes of memory%s, entry %04X:%04X, "
                  "stack %04X:%04X",
                  dos.FileSize, dos.HeaderSize, dos.MemorySize,
                  dos.TakesAllMemory ? " or all free memory" : "", dos.Cs, dos.Ip, dos.Ss, dos.Sp);
    line = text;
    return true;
}

std::vector<std::string> WindowsPackageProblems(const std::vector<uint8_t> &file) {
    std::string error;
    PeImage image;
    if (ParsePeImage(file, image, error) != PeError::None) return {"PE: " + error};
    std::vector<std::string> problems;
    if (std::string problem = PeLayoutProblem(image); !problem.empty()) problems.push_back("PE layout: " + problem);
    DosProgramInfo dos;
    if (!ReadDosProgram(file, image.PeOffset, dos, error)) problems.push_back("DOS program: " + error);
    ResourceSet set;
    if (ReadPeResources(file, set, error) && CarriesTags(set) && !ScanFindsResources(file, set, error))
        problems.push_back("DOS tag scan: " + error);
    return problems;
}

bool CarriesDosProgram(const std::string &path) {
    std::vector<uint8_t> file;
    std::string error;
    PeImage image;
    DosProgramInfo dos;
    return ReadWholeFile(path, file, error) && ParsePeImage(file, image, error) == PeError::None &&
           ReadDosProgram(file, image.PeOffset, dos, error) && !dos.OverlapsPe;
}

}  // namespace fwpack
