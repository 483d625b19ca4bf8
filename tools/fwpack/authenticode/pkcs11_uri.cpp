#include "tools/fwpack/authenticode/pkcs11_uri.h"

#include <cstdlib>

namespace fwpack {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes %XX escapes; false on a broken one.
bool Unescape(const std::string &in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return false;
        const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start) parts.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return parts;
}

bool SetPathAttribute(const std::string &name, const std::string &value, Pkcs11Uri &out) {
    if (name == "token") out.Token = value;
    else if (name == "manufacturer") out.Manufacturer = value;
    else if (name == "model") out.Model = value;
    else if (name == "serial") out.Serial = value;
    else if (name == "object") out.HasObject = true, out.Object = value;
    else if (name == "id") out.HasId = true, out.Id.assign(value.begin(), value.end());
    else if (name == "type") out.Type = value;
    else if (name == "slot-id") {
        char *end = nullptr;
        out.SlotId = std::strtoul(value.c_str(), &end, 10);
        out.HasSlotId = !value.empty() && *end == '\0';
        return out.HasSlotId;
    } else if (name.rfind("library-", 0) != 0 && name.rfind("slot-", 0) != 0) return false;
    return true;   // the library and slot descriptions narrow nothing here
}

bool SetQueryAttribute(const std::string &name, const std::string &value, Pkcs11Uri &out) {
    if (name == "pin-source") out.PinSource = value;
    else if (name == "module-path") out.ModulePath = value;
    else if (name != "module-name") return false;
    return true;
}

// Each "name=value" of one part through set; error names the first it refuses.
template <class Set>
bool ReadAttributes(const std::string &part, char separator, Set set, std::string &error) {
    for (const std::string &item : Split(part, separator)) {
        const size_t eq = item.find('=');
        std::string name = item.substr(0, eq), value;
        if (eq == std::string::npos || !Unescape(item.substr(eq + 1), value)) {
            error = "cannot read \"" + item + "\" (want name=value, %XX escapes)";
            return false;
        }
        if (name == "pin-value") {
            error = "a PIN in the URI (pin-value) would be on the command line; "
                    "use FWPACK_SIGN_PIN or pin-source";
            return false;
        }
        if (!set(name, value)) {
            error = "cannot use \"" + item + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParsePkcs11Uri(const std::string &text, Pkcs11Uri &out, std::string &error) {
    out = Pkcs11Uri{};
    if (!IsPkcs11Uri(text)) {
        error = "not a pkcs11: URI";
        return false;
    }
    const std::string rest = text.substr(7);
    const size_t question = rest.find('?');
    const std::string path = rest.substr(0, question);
    const std::string query = question == std::string::npos ? "" : rest.substr(question + 1);
    return ReadAttributes(path, ';', [&](auto &n, auto &v) { return SetPathAttribute(n, v, out); }, error) &&
           ReadAttributes(query, '&', [&](auto &n, auto &v) { return SetQueryAttribute(n, v, out); }, error);
}

}  // namespace fwpack
