#include "dos/bios_version.h"

namespace fwpack {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigitForm(TextView v) { return !v.Empty() && IsDigit(v[0]); }

bool BadLength(TextView v) {
    if (v.Empty()) return true;
    if (IsLetter(v[0]) && v.Length != 3) return true;
    return IsDigit(v[0]) && v.Length < 5;
}
bool BadStart(TextView v) {
    return !(v[0] == 'X' || v[0] == 'T' || v[0] == 'A' || IsDigit(v[0]));
}

// The version prefixed with '.' and split at every '.': parts after the
// third are counted but not kept, characters after a part's third dropped.
constexpr size_t kDigitParts = 3, kDigitPartRoom = 3;
struct DigitParts {
    int Count = 0;
    char Part[kDigitParts][kDigitPartRoom] = {};
    size_t Length[kDigitParts] = {};
    TextView Text(int k) const { return {Part[k], Length[k]}; }
};

DigitParts SplitDigitVersion(TextView v) {
    DigitParts out;
    out.Count = 1;   // the leading '.'
    for (size_t i = 0; i < v.Length; ++i) {
        if (v[i] == '.') {
            ++out.Count;
            continue;
        }
        const int k = out.Count - 1;
        if (k < int(kDigitParts) && out.Length[k] < kDigitPartRoom) out.Part[k][out.Length[k]++] = v[i];
    }
    return out;
}

}  // namespace

long LeadingNumber(TextView text) {
    size_t i = 0;
    while (i < text.Length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.Length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.Length && IsDigit(text[i]) && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int CompareDigitVersion(TextView newVersion, TextView oldVersion) {
    DigitParts n = SplitDigitVersion(newVersion), o = SplitDigitVersion(oldVersion);
    if (n.Count != o.Count) return kVersionPartsDiffer;
    for (int k = 0; k < n.Count && k < int(kDigitParts); ++k) {
        long a = LeadingNumber(n.Text(k)), b = LeadingNumber(o.Text(k));
        if (a > b) return kVersionNewer;
        if (a < b) return kVersionOlder;
    }
    return kVersionSame;
}

int CompareBiosVersion(TextView nv, TextView ov) {
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
        int r = CompareText(nv, ov);
        return r > 0 ? kVersionNewer : r < 0 ? kVersionOlder : kVersionSame;
    }
    return kVersionSame;
}

}  // namespace fwpack
