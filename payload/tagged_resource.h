// The five "SETUP" resources and the 16-byte tagged header that four of them
// carry: a 12-character tag (no NUL) and the u32 BodyLength of what follows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

enum ResourceId : uint16_t {
    DosPackage = 2000,
    ToolPackage = 2001,      // no header: the zlib stream fills the resource
    BiosPackage = 2002,
    OptionResource = 2003,
    MePackage = 2004,
};
inline constexpr uint16_t kFirstResourceId = 2000, kLastResourceId = 2004;
inline constexpr size_t kTagLength = 12, kTaggedHeaderSize = 16;
inline constexpr const char *kResourceType = "SETUP";
inline constexpr uint16_t kResourceLanguage = 1033;

// The tag of a tagged resource, or "" for 2001 and unknown ids. The texts
// are assembled at run time: a program that scans its own file for them
// (the DOS updater) must not hold them as literals.
std::string ResourceTag(uint16_t id);
// The id whose tag the 12 bytes at p spell, or 0.
uint16_t ResourceIdForTag(const uint8_t *p);
// "DosPackage", "ToolPackage", ... for messages; "" for unknown ids.
const char *ResourceName(uint16_t id);

struct TaggedResource {
    std::string Tag;           // the 12 bytes as they stand
    uint32_t BodyLength = 0;   // as stored
    const uint8_t *Body = nullptr;
    size_t BodySize = 0;       // the real length after the header (size - 16)
};

// False when the buffer is shorter than the header. The header is not
// checked: callers compare Tag and BodyLength as they need.
bool ParseTaggedResource(const uint8_t *data, size_t size, TaggedResource &out);
std::vector<uint8_t> MakeTaggedResource(uint16_t id, const std::vector<uint8_t> &body);

}  // namespace fwpack
