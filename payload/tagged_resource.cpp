#include "payload/tagged_resource.h"

#include <cstring>

#include "payload/bytes.h"

namespace fwpack {

namespace {
// The tags, each byte XOR-ed with a mask read through a volatile, so that
// no build of a program that scans its own file carries them in clear.
constexpr uint8_t kMask = 0x5A;
constexpr uint8_t Masked(char c) { return uint8_t(c) ^ kMask; }
struct MaskedTag {
    uint16_t id;
    uint8_t bytes[kTagLength];
};
#define FWPACK_TAG(id, a, b, c, d, e, f, g, h, i, j, k, l)                                  \
    {id, {Masked(a), Masked(b), Masked(c), Masked(d), Masked(e), Masked(f), Masked(g),     \
          Masked(h), Masked(i), Masked(j), Masked(k), Masked(l)}}
constexpr MaskedTag kTags[] = {
    FWPACK_TAG(DosPackage, '$', '_', 'D', 'O', 'S', '_', '_', 'E', 'X', 'E', '_', '$'),
    FWPACK_TAG(BiosPackage, '$', '_', 'B', 'I', 'N', '_', 'F', 'I', 'L', 'E', '_', '$'),
    FWPACK_TAG(OptionResource, '$', '_', '_', 'O', 'P', 'T', 'I', 'O', 'N', '_', '_', '$'),
    FWPACK_TAG(MePackage, '$', '_', 'M', 'E', '_', '_', 'F', 'I', 'L', 'E', '_', '$'),
};
#undef FWPACK_TAG
volatile uint8_t gMask = kMask;

void Unmask(const MaskedTag &t, char out[kTagLength]) {
    const uint8_t mask = gMask;
    for (size_t i = 0; i < kTagLength; ++i) out[i] = char(t.bytes[i] ^ mask);
}
}  // namespace

std::string ResourceTag(uint16_t id) {
    for (const auto &t : kTags) {
        if (t.id != id) continue;
        char text[kTagLength];
        Unmask(t, text);
        return std::string(text, kTagLength);
    }
    return {};
}

uint16_t ResourceIdForTag(const uint8_t *p) {
    for (const auto &t : kTags) {
        char text[kTagLength];
        Unmask(t, text);
        if (std::memcmp(p, text, kTagLength) == 0) return t.id;
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
    out.BodyLength = ReadU32(data + kTagLength);
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
