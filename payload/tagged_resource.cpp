#include "payload/tagged_resource.h"

#include <cstring>

#include "payload/bytes.h"

namespace fwpack {

std::string ResourceTag(uint16_t id) {
    char text[kTagLength];
    return TagText(id, text) ? std::string(text, kTagLength) : std::string();
}

uint16_t ResourceIdForTag(const uint8_t *bytes, size_t size, size_t offset) {
    if (bytes == nullptr || !FitsInside(size, offset, kTagLength)) return 0;
    const uint8_t *p = bytes + offset;
    for (size_t n = 0; n < kTaggedResourceCount; ++n) {
        char text[kTagLength];
        const uint16_t id = TaggedResourceId(n);
        if (TagText(id, text) && std::memcmp(p, text, kTagLength) == 0) return id;
    }
    return 0;
}

const char *ResourceName(uint16_t id) {
    switch (id) {
    case DosPackage: return "DosPackage";
    case ToolPackage: return "ToolPackage";
    case BiosPackage: return "BiosPackage";
    case OptionResource: return "OptionBlock";
    case MePackage: return "MePackage";
    default: return "";
    }
}

bool ParseTaggedResource(const uint8_t *data, size_t size, TaggedResource &out) {
    if (data == nullptr || size < kTaggedHeaderSize) return false;
    out.Tag.assign(reinterpret_cast<const char *>(data), kTagLength);
    ReadU32(data, size, kTagLength, out.BodyLength);
    out.Body = data + kTaggedHeaderSize;
    out.BodySize = size - kTaggedHeaderSize;
    return true;
}

std::vector<uint8_t> MakeTaggedResource(uint16_t id, const std::vector<uint8_t> &body) {
    std::vector<uint8_t> out(kTaggedHeaderSize + body.size());
    const std::string tag = ResourceTag(id);
    std::memcpy(out.data(), tag.data(), tag.size() < kTagLength ? tag.size() : kTagLength);
    PutU32(out.data() + kTagLength, uint32_t(body.size()));
    if (!body.empty()) std::memcpy(out.data() + kTaggedHeaderSize, body.data(), body.size());
    return out;
}

}  // namespace fwpack
