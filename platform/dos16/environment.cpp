// The environment block (segment at PSP:2Ch): "NAME=value" strings, an empty
// string, a word count, then the program's own full path.
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

constexpr uint16_t kEnvironmentSegmentAt = 0x2C;
constexpr uint16_t kEnvironmentLimit = 0x8000;  // DOS caps the block at 32 KiB

uint16_t EnvironmentSegment() { return ReadRealWord(PspSegment(), kEnvironmentSegmentAt); }

// Copies the string at offset into out; its length, or -1 when it does not
// fit or runs past the block.
int32_t CopyString(uint16_t segment, uint16_t offset, char *out, size_t capacity) {
    for (size_t n = 0; n < capacity && offset + n < kEnvironmentLimit; ++n) {
        out[n] = char(ReadRealByte(segment, uint16_t(offset + n)));
        if (out[n] == 0)
            return int32_t(n);
    }
    if (capacity)
        out[0] = 0;
    return -1;
}

// The offset just past the string at offset.
uint16_t SkipString(uint16_t segment, uint16_t offset) {
    while (offset < kEnvironmentLimit && ReadRealByte(segment, offset) != 0)
        ++offset;
    return uint16_t(offset + 1);
}

// True when the string at offset begins with "name=".
bool NameMatches(uint16_t segment, uint16_t offset, const char *name) {
    for (; *name; ++name, ++offset)
        if (ReadRealByte(segment, offset) != uint8_t(*name))
            return false;
    return ReadRealByte(segment, offset) == '=';
}

}  // namespace

int32_t GetEnvironment(const char *name, char *out, size_t capacity) {
    uint16_t segment = EnvironmentSegment();
    size_t nameLength = 0;
    while (name[nameLength])
        ++nameLength;
    for (uint16_t at = 0; at < kEnvironmentLimit && ReadRealByte(segment, at) != 0;
         at = SkipString(segment, at)) {
        if (NameMatches(segment, at, name))
            return CopyString(segment, uint16_t(at + nameLength + 1), out, capacity);
    }
    return -1;
}

int32_t OwnPath(char *out, size_t capacity) {
    uint16_t segment = EnvironmentSegment();
    uint16_t at = 0;
    while (at < kEnvironmentLimit && ReadRealByte(segment, at) != 0)
        at = SkipString(segment, at);
    at = uint16_t(at + 1);  // the empty string that ends the variables
    if (at + 2 >= kEnvironmentLimit || ReadRealWord(segment, at) == 0)
        return -1;  // DOS before 3.0 does not pass the path
    return CopyString(segment, uint16_t(at + 2), out, capacity);
}

}  // namespace dos16
