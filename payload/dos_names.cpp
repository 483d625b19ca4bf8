#include "payload/dos_names.h"

#include <cstring>

namespace fwpack {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool IsNameCharacter(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    static constexpr char kPunctuation[] = "!#$%&'()-@^_`{}~";
    return std::memchr(kPunctuation, c, sizeof kPunctuation - 1) != nullptr;
}

bool IsNamePart(const char *part, size_t length, size_t room) {
    if (length == 0 || length > room) return false;
    for (size_t i = 0; i < length; ++i)
        if (!IsNameCharacter(part[i])) return false;
    return true;
}

size_t StemLength(const char *name, size_t length) {
    size_t n = 0;
    while (n < length && name[n] != '.') ++n;
    return n;
}

bool StemIs(const char *stem, size_t length, const char *device) {
    if (std::strlen(device) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (Upper(stem[i]) != device[i]) return false;
    return true;
}

}  // namespace

bool IsDosShortName(const char *name, size_t length) {
    const size_t stem = StemLength(name, length);
    if (!IsNamePart(name, stem, 8)) return false;
    return stem == length || IsNamePart(name + stem + 1, length - stem - 1, 3);
}

bool IsDosDeviceName(const char *name, size_t length) {
    const size_t stem = StemLength(name, length);
    static constexpr const char *kDevices[] = {"CON", "AUX", "PRN", "NUL", "CLOCK$"};
    for (const char *device : kDevices)
        if (StemIs(name, stem, device)) return true;
    if (stem != 4 || name[3] < '1' || name[3] > '9') return false;
    return StemIs(name, 3, "COM") || StemIs(name, 3, "LPT");
}

void DosFiledName(const char *name, size_t length, char (&out)[kDosFiledNameRoom]) {
    const size_t stem = StemLength(name, length);
    size_t n = 0;
    for (size_t i = 0; i < stem && i < 8; ++i) out[n++] = Upper(name[i]);
    if (stem < length) {
        out[n++] = '.';
        for (size_t i = stem + 1; i < length && i < stem + 4 && name[i] != '.'; ++i) out[n++] = Upper(name[i]);
    }
    out[n] = '\0';
}

bool SameDosFile(const char *a, const char *b) {
    char filedA[kDosFiledNameRoom], filedB[kDosFiledNameRoom];
    DosFiledName(a, std::strlen(a), filedA);
    DosFiledName(b, std::strlen(b), filedB);
    return std::strcmp(filedA, filedB) == 0;
}

}  // namespace fwpack
