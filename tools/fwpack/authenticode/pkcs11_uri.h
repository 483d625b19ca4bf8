// A token object named by a "pkcs11:" URI (RFC 7512): which token (label,
// manufacturer, model, serial, slot), which object (label, id, type), and
// the query's pin-source and module-path.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

struct Pkcs11Uri {
    std::string Token, Manufacturer, Model, Serial;
    bool HasSlotId = false;
    unsigned long SlotId = 0;
    bool HasObject = false;
    std::string Object;
    bool HasId = false;
    std::vector<uint8_t> Id;
    std::string Type;         // "private", "cert", ... or "" for any
    std::string PinSource;    // a file holding the PIN ("file:" URI or a path)
    std::string ModulePath;
};

// Parses text; false with one line naming the part it cannot take. A PIN
// written into the URI (pin-value) is refused: it would be on the command
// line.
bool ParsePkcs11Uri(const std::string &text, Pkcs11Uri &out, std::string &error);

inline bool IsPkcs11Uri(const std::string &text) { return text.rfind("pkcs11:", 0) == 0; }

}  // namespace fwpack
