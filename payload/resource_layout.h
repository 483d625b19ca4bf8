// The five "SETUP" resources: type, language, ids, the 16-byte tagged
// header four of them carry, and the window of their zlib streams.
// Freestanding: plain values only.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

enum ResourceId : uint16_t {
    DosPackage = 2000,
    ToolPackage = 2001,  // no header: the zlib stream fills the resource
    BiosPackage = 2002,
    OptionResource = 2003,
    MePackage = 2004,
};
inline constexpr uint16_t kFirstResourceId = 2000, kLastResourceId = 2004;
inline constexpr const char *kResourceType = "SETUP";
inline constexpr uint16_t kResourceLanguage = 1033;

// Tagged header: a 12-character tag (no NUL), then the u32 BodyLength.
inline constexpr size_t kTagLength = 12, kTaggedHeaderSize = 16;

// The payload's zlib streams declare at most a 1 KiB window; they are made
// and read with this many window bits.
inline constexpr int kPayloadWindowBits = 10;
inline constexpr uint32_t kPayloadWindowSize = uint32_t(1) << kPayloadWindowBits;

// The tags, each byte XOR-ed with a mask that is read through a volatile,
// so that no build of a program that scans its own file (the DOS updater)
// carries them in clear.
namespace tag_mask {
inline constexpr uint8_t kMask = 0x5A;
inline volatile uint8_t gMask = kMask;
constexpr uint8_t M(char c) { return uint8_t(uint8_t(c) ^ kMask); }
struct MaskedTag {
    uint16_t Id;
    uint8_t Bytes[kTagLength];
};
inline constexpr MaskedTag kTags[] = {
    {DosPackage, {M('$'), M('_'), M('D'), M('O'), M('S'), M('_'), M('_'), M('E'), M('X'), M('E'), M('_'), M('$')}},
    {BiosPackage, {M('$'), M('_'), M('B'), M('I'), M('N'), M('_'), M('F'), M('I'), M('L'), M('E'), M('_'), M('$')}},
    {OptionResource, {M('$'), M('_'), M('_'), M('O'), M('P'), M('T'), M('I'), M('O'), M('N'), M('_'), M('_'), M('$')}},
    {MePackage, {M('$'), M('_'), M('M'), M('E'), M('_'), M('_'), M('F'), M('I'), M('L'), M('E'), M('_'), M('$')}},
};
}  // namespace tag_mask

inline constexpr size_t kTaggedResourceCount = sizeof tag_mask::kTags / sizeof tag_mask::kTags[0];

// The id of the n-th tagged resource (n < kTaggedResourceCount), in id order.
constexpr uint16_t TaggedResourceId(size_t n) { return tag_mask::kTags[n].Id; }

// Writes the 12 characters of id's tag to out; false (out untouched) for
// 2001 and unknown ids.
inline bool TagText(uint16_t id, char out[kTagLength]) {
    for (const auto &t : tag_mask::kTags) {
        if (t.Id != id) continue;
        const uint8_t mask = tag_mask::gMask;
        for (size_t i = 0; i < kTagLength; ++i) out[i] = char(t.Bytes[i] ^ mask);
        return true;
    }
    return false;
}

}  // namespace fwpack
