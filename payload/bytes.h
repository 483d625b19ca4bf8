// Little-endian field access for the payload formats. Every multi-byte
// integer of the payload is little-endian, whatever the host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwpack {

inline uint16_t ReadU16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t ReadU64(const uint8_t *p) { return ReadU32(p) | uint64_t(ReadU32(p + 4)) << 32; }

inline void PutU16(uint8_t *p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutU32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutU64(uint8_t *p, uint64_t v) { PutU32(p, uint32_t(v)); PutU32(p + 4, uint32_t(v >> 32)); }

// A NUL-terminated text inside a fixed-width field. A field with no NUL
// yields all its bytes; the caller decides whether that is acceptable.
inline std::string_view FieldText(const uint8_t *field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != 0) ++n;
    return {reinterpret_cast<const char *>(field), n};
}
inline bool FieldTerminated(const uint8_t *field, size_t width) {
    for (size_t i = 0; i < width; ++i)
        if (field[i] == 0) return true;
    return false;
}

}  // namespace fwpack
