// The C memory and string functions the compiler, zlib and our programs
// call, for the UEFI build, which links no C library. Plain loops: the
// build forbids the compiler to turn them back into calls to themselves.
#include <cstring>

#include <stdint.h>

extern "C" {

void *memcpy(void *destination, const void *source, size_t count) {
    auto *d = static_cast<uint8_t *>(destination);
    auto *s = static_cast<const uint8_t *>(source);
    for (size_t i = 0; i < count; ++i) d[i] = s[i];
    return destination;
}

void *memmove(void *destination, const void *source, size_t count) {
    auto *d = static_cast<uint8_t *>(destination);
    auto *s = static_cast<const uint8_t *>(source);
    if (d <= s || d >= s + count) return memcpy(destination, source, count);
    while (count-- > 0) d[count] = s[count];
    return destination;
}

void *memset(void *destination, int value, size_t count) {
    auto *d = static_cast<uint8_t *>(destination);
    for (size_t i = 0; i < count; ++i) d[i] = uint8_t(value);
    return destination;
}

int memcmp(const void *a, const void *b, size_t count) {
    auto *x = static_cast<const uint8_t *>(a);
    auto *y = static_cast<const uint8_t *>(b);
    for (size_t i = 0; i < count; ++i)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

const void *memchr(const void *bytes, int value, size_t count) {
    auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < count; ++i)
        if (p[i] == uint8_t(value)) return p + i;
    return nullptr;
}

size_t strlen(const char *text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

int strcmp(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return uint8_t(*a) - uint8_t(*b);
}
}
