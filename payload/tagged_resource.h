// The five "SETUP" resources and the 16-byte tagged header that four of them
// carry: a 12-character tag (no NUL) and the u32 BodyLength of what follows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/resource_layout.h"

namespace fwpack {

// The tag of a tagged resource, or "" for 2001 and unknown ids (TagText,
// as a string).
std::string ResourceTag(uint16_t id);
// The id whose tag the 12 bytes at offset spell, or 0 (also when fewer
// than 12 bytes are left there).
uint16_t ResourceIdForTag(const uint8_t *bytes, size_t size, size_t offset);
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
