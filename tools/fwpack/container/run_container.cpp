// The Linux package: the DOS updater program followed by the tagged
// resources 2000, 2002, 2003 and 2004. The updater finds them the way it
// would on DOS, by scanning its own file from byte 0 for their tags; the
// reader here walks the file by the same rules, so what it reads is what
// the updater will find.
#include <algorithm>
#include <cstring>
#include <set>

#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "payload/bytes.h"
#include "payload/dos_limits.h"
#include "payload/tag_markers.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"

namespace fwpack {

namespace {

constexpr uint16_t kRunResources[] = {DosPackage, BiosPackage, OptionResource, MePackage};
constexpr size_t kAlignment = 16;

bool IsElf(const std::vector<uint8_t> &file) {
    return file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' && file[3] == 'F';
}

// The first tag at or after from whose position is below limit, or npos.
size_t FindTag(const uint8_t *file, size_t size, size_t from, size_t limit, uint16_t &id) {
    const TagMarkers tags;
    const MarkerHit hit = FindMarkerIn(file, size, from, limit, tags.List, kTaggedResourceCount);
    if (!hit.Found) return std::string::npos;
    id = TaggedResourceId(hit.Which);
    return size_t(hit.Offset);
}

void PadTo16(std::vector<uint8_t> &out) {
    // At least one byte: after a resource the updater skips the next byte.
    do out.push_back(0);
    while (out.size() % kAlignment != 0);
}

std::string MissingNames(const std::set<uint16_t> &seen) {
    std::string names;
    for (uint16_t id : kRunResources)
        if (!seen.count(id)) names += std::string(names.empty() ? "" : ", ") + std::to_string(id);
    return names;
}

}  // namespace

bool LooksLikeRunPackage(const std::vector<uint8_t> &file) {
    uint16_t id = 0;
    return IsElf(file) && FindTag(file.data(), file.size(), 0, file.size(), id) != std::string::npos;
}

bool ReadRunPackage(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error) {
    if (file.size() <= kDosScanMargin) {
        out.clear();
        error = "Linux package too short";
        return false;
    }
    if (ScanTaggedResources(file, out, error)) return true;
    error = "Linux package: " + error;
    return false;
}

bool ScanTaggedResources(const std::vector<uint8_t> &file, ResourceSet &out, std::string &error) {
    return ScanTaggedResources(file, file.size(), out, error);
}

bool ScanTaggedResources(const std::vector<uint8_t> &whole, size_t size, ResourceSet &out,
                         std::string &error) {
    out.clear();
    if (size > whole.size() || size <= kDosScanMargin) {
        error = "too short";
        return false;
    }
    const uint8_t *file = whole.data();
    const size_t limit = size - kDosScanMargin;
    std::set<uint16_t> seen;
    size_t p = 0;
    while (seen.size() < std::size(kRunResources)) {
        uint16_t id = 0;
        size_t at = FindTag(file, size, p, limit, id);
        if (at == std::string::npos) {
            error = "the updater would not find resource(s) " + MissingNames(seen);
            return false;
        }
        if (!seen.insert(id).second) {
            error = "the tag of resource " + std::to_string(id) + " appears twice, at " + std::to_string(at);
            return false;
        }
        uint32_t bodyLength = 0;
        if (!ReadU32(file, size, at + kTagLength, bodyLength) ||
            bodyLength > size - at - kTaggedHeaderSize) {
            error = "resource " + std::to_string(id) + " at " + std::to_string(at) + " declares " +
                    std::to_string(bodyLength) + " body bytes, past the end of the file";
            return false;
        }
        size_t end = at + kTaggedHeaderSize + bodyLength;
        out[id].assign(file + at, file + end);
        // The updater reads the option block where it stands and scans on
        // inside it; a package's body is skipped, and a tag right behind it
        // is found (resources lie back to back in a PE).
        p = id == OptionResource ? at + kTaggedHeaderSize : end;
    }
    return true;
}

bool ScanFindsResources(const std::vector<uint8_t> &file, const ResourceSet &set, std::string &error) {
    ResourceSet found;
    std::string why;
    bool same = ScanTaggedResources(file, found, why);
    for (uint16_t id : kRunResources) {
        auto it = set.find(id);
        same = same && it != set.end() && found[id] == it->second;
    }
    if (same) return true;
    error = "the resources hold a tag text where the updater would find it" +
            (why.empty() ? std::string() : ": " + why);
    return false;
}

bool AppendTaggedResources(std::vector<uint8_t> &bytes, const std::string &program,
                           const ResourceSet &set, std::string &error) {
    uint16_t found = 0;
    if (size_t at = FindTag(bytes.data(), bytes.size(), 0, bytes.size(), found); at != std::string::npos) {
        error = program + " holds the tag of resource " + std::to_string(found) + " at " +
                std::to_string(at) + " (a package already, or a program that would find itself)";
        return false;
    }
    for (uint16_t id : kRunResources) {
        auto it = set.find(id);
        if (it == set.end()) {
            error = "resource " + std::to_string(id) + " is missing; a package with appended "
                    "resources needs 2000, 2002, 2003 and 2004";
            return false;
        }
        const std::vector<uint8_t> &r = it->second;
        uint32_t bodyLength = 0;
        if (ResourceIdForTag(r.data(), r.size(), 0) != id ||
            !ReadU32(r.data(), r.size(), kTagLength, bodyLength) ||
            bodyLength != r.size() - kTaggedHeaderSize) {
            error = "resource " + std::to_string(id) + " has no valid tagged header";
            return false;
        }
    }
    PadTo16(bytes);
    size_t lastTag = 0;
    for (uint16_t id : kRunResources) {
        const std::vector<uint8_t> &r = set.at(id);
        lastTag = bytes.size();
        bytes.insert(bytes.end(), r.begin(), r.end());
        PadTo16(bytes);
    }
    while (bytes.size() - lastTag <= kDosScanMargin) bytes.push_back(0);

    // The updater must find each resource where it was put, and nothing
    // else: a tag text inside a body or the option block would mislead it.
    return ScanFindsResources(bytes, set, error);
}

bool WriteRunPackage(const std::string &dosStubPath, const ResourceSet &set,
                     const std::string &outPath, std::string &error) {
    std::vector<uint8_t> bytes;
    return ReadWholeFile(dosStubPath, bytes, error) &&
           AppendTaggedResources(bytes, "DOS stub " + dosStubPath, set, error) &&
           WriteFileAtomically(outPath, bytes, error, 0755);
}

}  // namespace fwpack
