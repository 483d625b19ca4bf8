// The C memory and string functions gcc, zlib and our programs call. The
// copies use the 32-bit address form (addr32 rep movsb): the plain form
// would take SI, DI and CX as 16-bit registers and wrap inside the first
// 64 KiB. ESI is reserved from gcc (cmake/dos16.cmake), so the copies
// borrow it and give it back.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void *memcpy(void *destination, const void *source, size_t count) {
    void *d = destination;
    asm volatile("xchgl %%eax, %%esi\n\taddr32 rep movsb\n\txchgl %%eax, %%esi"
                 : "+D"(d), "+a"(source), "+c"(count)
                 :
                 : "memory");
    return destination;
}

void *memmove(void *destination, const void *source, size_t count) {
    auto *d = static_cast<uint8_t *>(destination);
    auto *s = static_cast<const uint8_t *>(source);
    if (d <= s || d >= s + count)
        return memcpy(destination, source, count);
    d += count - 1;
    s += count - 1;
    asm volatile("xchgl %%eax, %%esi\n\tstd\n\taddr32 rep movsb\n\tcld\n\txchgl %%eax, %%esi"
                 : "+D"(d), "+a"(s), "+c"(count)
                 :
                 : "memory");
    return destination;
}

void *memset(void *destination, int value, size_t count) {
    void *d = destination;
    asm volatile("addr32 rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
    return destination;
}

int memcmp(const void *a, const void *b, size_t count) {
    auto *x = static_cast<const uint8_t *>(a);
    auto *y = static_cast<const uint8_t *>(b);
    for (size_t i = 0; i < count; ++i)
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    return 0;
}

const void *memchr(const void *bytes, int value, size_t count) {
    auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < count; ++i)
        if (p[i] == uint8_t(value))
            return p + i;
    return nullptr;
}

size_t strlen(const char *text) {
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

int strcmp(const char *a, const char *b) {
    while (*a && *a == *b)
        ++a, ++b;
    return uint8_t(*a) - uint8_t(*b);
}
}
