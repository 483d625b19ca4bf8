#include "dos/bios_version.h"

#include <array>
#include <string>

namespace fwpack {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigitForm(std::string_view v) { return !v.empty() && IsDigit(v[0]); }

bool BadLength(std::string_view v) {
    if (v.empty()) return true;
    if (IsLetter(v[0]) && v.size() != 3) return true;
    return IsDigit(v[0]) && v.size() < 5;
}
bool BadStart(std::string_view v) {
    return !(v[0] == 'X' || v[0] == 'T' || v[0] == 'A' || IsDigit(v[0]));
}

// The version prefixed with '.' and split at every '.': parts after the
// third are counted but not kept, characters after a part's third dropped.
struct DigitParts {
    int Count = 0;
    std::array<std::string, 3> Part;
};

DigitParts SplitDigitVersion(std::string_view v) {
    DigitParts out;
    out.Count = 1;   // the leading '.'
    for (char c : v) {
        if (c == '.') {
            ++out.Count;
            continue;
        }
        int k = out.Count - 1;
        if (k < 3 && out.Part[k].size() < 3) out.Part[k].push_back(c);
    }
    return out;
}

}  // namespace

long LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && IsDigit(text[i]) && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int CompareDigitVersion(std::string_view newVersion, std::string_view oldVersion) {
    DigitParts n = SplitDigitVersion(newVersion), o = SplitDigitVersion(oldVersion);
    if (n.Count != o.Count) return kVersionPartsDiffer;
    for (int k = 0; k < n.Count && k < 3; ++k) {
        long a = LeadingNumber(n.Part[k]), b = LeadingNumber(o.Part[k]);
        if (a > b) return kVersionNewer;
        if (a < b) return kVersionOlder;
    }
    return kVersionSame;
}

int CompareBiosVersion(std::string_view nv, std::string_view ov) {
    if (BadLength(nv)) return kVersionNewUnusable;
    if (BadLength(ov)) return kVersionOldUnusable;
    if (BadStart(nv)) return kVersionNewUnusable;
    if (BadStart(ov)) return kVersionOldUnusable;

    char n = nv[0], o = ov[0];
    bool nDigit = IsDigitForm(nv), oDigit = IsDigitForm(ov);
    if ((n == 'X' || n == 'A') && (oDigit || o == 'T')) return kVersionNewer;
    if (n == 'A' && o == 'X') return kVersionNewer;
    if (o == 'A' && (nDigit || n == 'X' || n == 'T')) return kVersionOlder;
    if ((nDigit || n == 'T') && o == 'X') return kVersionOlder;
    if (nDigit && oDigit) return CompareDigitVersion(nv, ov);
    if (n == o) {
        int r = nv.compare(ov);
        return r > 0 ? kVersionNewer : r < 0 ? kVersionOlder : kVersionSame;
    }
    return kVersionSame;
}

}  // namespace fwpack
