#include "tools/fwpack/authenticode/der.h"

#include <cstdlib>

namespace fwpack::der {

Bytes Tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(uint8_t(n));
    } else {
        Bytes len;
        for (size_t v = n; v; v >>= 8) len.insert(len.begin(), uint8_t(v));
        out.push_back(uint8_t(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

static void Base128(Bytes &out, unsigned long v) {
    Bytes groups{uint8_t(v & 0x7f)};
    for (v >>= 7; v; v >>= 7) groups.insert(groups.begin(), uint8_t(0x80 | (v & 0x7f)));
    out.insert(out.end(), groups.begin(), groups.end());
}

Bytes Oid(const std::string &dotted) {
    std::vector<unsigned long> arcs;
    for (const char *p = dotted.c_str(); *p;) {
        char *end = nullptr;
        arcs.push_back(std::strtoul(p, &end, 10));
        p = *end == '.' ? end + 1 : end;
    }
    Bytes content;
    Base128(content, arcs.at(0) * 40 + arcs.at(1));
    for (size_t i = 2; i < arcs.size(); ++i) Base128(content, arcs[i]);
    return Tlv(kOid, content);
}

Bytes Bmp(const std::string &ascii) {
    Bytes out;
    for (char c : ascii) {
        out.push_back(0);
        out.push_back(uint8_t(c));
    }
    return out;
}

bool Read(const uint8_t *data, size_t size, Element &out) {
    if (size < 2) return false;
    out.Tag = data[0];
    if ((out.Tag & 0x1f) == 0x1f) return false;   // multi-byte tags: not used here
    size_t header = 2, length = data[1];
    if (length & 0x80) {
        const size_t count = length & 0x7f;
        if (count == 0 || count > sizeof(size_t) || 2 + count > size) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = length << 8 | data[2 + i];
        header += count;
    }
    if (length > size - header) return false;
    out.Content = data + header;
    out.Length = length;
    out.TotalLength = header + length;
    return true;
}

bool Reader::Next(uint8_t tag, Element &out) {
    if (!Read(at_, left_, out) || out.Tag != tag) return false;
    at_ += out.TotalLength;
    left_ -= out.TotalLength;
    return true;
}

std::string OidText(const uint8_t *content, size_t length) {
    std::string out;
    unsigned long value = 0;
    bool first = true;
    for (size_t i = 0; i < length; ++i) {
        if (value > (~0ul >> 7)) return "";
        value = value << 7 | (content[i] & 0x7f);
        if (content[i] & 0x80) continue;
        if (first) {
            const unsigned long top = value < 40 ? 0 : value < 80 ? 1 : 2;
            out = std::to_string(top) + "." + std::to_string(value - 40 * top);
            first = false;
        } else {
            out += "." + std::to_string(value);
        }
        value = 0;
    }
    return (length == 0 || (content[length - 1] & 0x80)) ? "" : out;
}

}  // namespace fwpack::der
