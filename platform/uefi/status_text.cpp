#include "platform/uefi/status_text.h"

namespace fwpack {

namespace {
int HexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool ReadStatusText(const uint8_t *bytes, size_t size, uint64_t &status) {
    size_t step = 1, at = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) step = 2, at = 2;
    // Character k of the text; -1 past its end or above 0xFF.
    auto unit = [&](size_t k) -> int {
        const size_t i = at + k * step;
        if (i + step > size) return -1;
        return step == 2 && bytes[i + 1] != 0 ? -1 : bytes[i];
    };
    if (unit(0) != '0' || (unit(1) != 'x' && unit(1) != 'X')) return false;
    status = 0;
    size_t digits = 0;
    for (size_t k = 2;; ++k, ++digits) {
        const int c = unit(k);
        const int value = HexDigit(c);
        if (value < 0) break;
        if (digits == 16) return false;
        status = status << 4 | uint64_t(value);
    }
    return digits > 0;
}

}  // namespace fwpack
