#include "tools/fwpack/manifest/printable_text.h"

#include <cstdio>

namespace fwpack {

std::string Printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string Quoted(std::string_view text) { return "\"" + Printable(text) + "\""; }

size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t &codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                            : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || text.size() - at < length) return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[at + i]);
        if ((c & 0xC0) != 0x80) return 0;
        value = value << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    codePoint = value;
    return length;
}

bool IsUtf8(std::string_view text) {
    uint32_t codePoint = 0;
    for (size_t at = 0, n = 0; at < text.size(); at += n)
        if ((n = Utf8SequenceAt(text, at, codePoint)) == 0) return false;
    return true;
}

std::string Hex(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

}  // namespace fwpack
