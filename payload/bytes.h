// Little-endian field access for the payload formats. Every multi-byte
// integer of the payload is little-endian, whatever the host. Readers of
// untrusted bytes take the bytes, their size and an offset, and fail
// (leaving out untouched) when the field would run past the end.
// Freestanding: no standard library beyond <cstddef>/<cstdint>.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// True when width bytes at offset lie inside size bytes; offsets near the
// top of size_t do not wrap around.
constexpr bool FitsInside(size_t size, size_t offset, size_t width) {
    return offset <= size && width <= size - offset;
}

namespace bytes_detail {
template <typename T>
constexpr T Gather(const uint8_t *p) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = T(v | T(p[i]) << (8 * i));
    return v;
}
template <typename T>
constexpr void Scatter(uint8_t *p, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = uint8_t(v >> (8 * i));
}
template <typename T>
constexpr bool Read(const uint8_t *bytes, size_t size, size_t offset, T &out) {
    if (bytes == nullptr || !FitsInside(size, offset, sizeof(T))) return false;
    out = Gather<T>(bytes + offset);
    return true;
}
}  // namespace bytes_detail

constexpr bool ReadU16(const uint8_t *bytes, size_t size, size_t offset, uint16_t &out) {
    return bytes_detail::Read(bytes, size, offset, out);
}
constexpr bool ReadU32(const uint8_t *bytes, size_t size, size_t offset, uint32_t &out) {
    return bytes_detail::Read(bytes, size, offset, out);
}
constexpr bool ReadU64(const uint8_t *bytes, size_t size, size_t offset, uint64_t &out) {
    return bytes_detail::Read(bytes, size, offset, out);
}

// Unchecked reads at p, for bytes whose bounds the caller has already
// established (the PE readers of the builder and the tests still use them).
constexpr uint16_t ReadU16(const uint8_t *p) { return bytes_detail::Gather<uint16_t>(p); }
constexpr uint32_t ReadU32(const uint8_t *p) { return bytes_detail::Gather<uint32_t>(p); }
constexpr uint64_t ReadU64(const uint8_t *p) { return bytes_detail::Gather<uint64_t>(p); }

// Writers fill buffers their caller sized: no check.
constexpr void PutU16(uint8_t *p, uint16_t v) { bytes_detail::Scatter(p, v); }
constexpr void PutU32(uint8_t *p, uint32_t v) { bytes_detail::Scatter(p, v); }
constexpr void PutU64(uint8_t *p, uint64_t v) { bytes_detail::Scatter(p, v); }

// A NUL-terminated text inside a fixed-width field at offset: its length
// (the whole width when it holds no NUL) and whether a NUL ends it. False
// when the field runs past the end.
struct FieldSpan {
    size_t Length = 0;
    bool Terminated = false;
};
constexpr bool ReadField(const uint8_t *bytes, size_t size, size_t offset, size_t width,
                         FieldSpan &out) {
    if (bytes == nullptr || !FitsInside(size, offset, width)) return false;
    size_t n = 0;
    while (n < width && bytes[offset + n] != 0) ++n;
    out.Length = n;
    out.Terminated = n < width;
    return true;
}

}  // namespace fwpack
