#include "tools/fwpack/authenticode/token.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fwpack {
namespace {

// A fixed-width, blank-padded text field of the token's information.
std::string Field(const ck::Byte *bytes, size_t size) {
    std::string s(reinterpret_cast<const char *>(bytes), size);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

bool Matches(const std::string &wanted, const ck::Byte *bytes, size_t size) {
    return wanted.empty() || wanted == Field(bytes, size);
}

bool TokenMatches(const Pkcs11Uri &uri, const ck::TokenInfo &t) {
    return Matches(uri.Token, t.Label, sizeof t.Label) &&
           Matches(uri.Manufacturer, t.ManufacturerId, sizeof t.ManufacturerId) &&
           Matches(uri.Model, t.Model, sizeof t.Model) &&
           Matches(uri.Serial, t.SerialNumber, sizeof t.SerialNumber);
}

std::string Hex(ck::Rv rv) {
    std::ostringstream s;
    s << "0x" << std::hex << rv;
    return s.str();
}

// The PIN: FWPACK_SIGN_PIN, else the file pin-source names; its line end is
// not part of it.
bool ReadPin(const Pkcs11Uri &uri, std::string &pin, std::string &error) {
    if (const char *p = std::getenv(kSignPinVariable)) {
        pin = p;
        return true;
    }
    if (uri.PinSource.empty()) {
        error = std::string("needs a PIN: set ") + kSignPinVariable + " or give pin-source in the URI";
        return false;
    }
    std::string path = uri.PinSource;
    if (path.rfind("file:", 0) == 0) path = path.substr(path.rfind("file://", 0) == 0 ? 7 : 5);
    std::ifstream in(path, std::ios::binary);
    if (!in || !std::getline(in, pin)) {
        error = "pin-source " + uri.PinSource + ": cannot read it";
        return false;
    }
    if (!pin.empty() && pin.back() == '\r') pin.pop_back();
    return true;
}

}  // namespace

std::unique_ptr<TokenSession> TokenSession::Open(const Pkcs11Uri &uri, const std::string &module,
                                                 bool login, std::string &error) {
    std::unique_ptr<TokenSession> t(new TokenSession);
    std::string path = !module.empty() ? module : !uri.ModulePath.empty() ? uri.ModulePath
                                                                            : DefaultPkcs11Module();
    if (path.empty()) {
        error = "no PKCS#11 module: give --pkcs11-module (the token vendor's module); "
                "this system has no default one";
        return nullptr;
    }
    if (!t->LoadModule(path, error) || !t->OpenSlot(uri, error) || (login && !t->Login(uri, error)))
        return nullptr;
    return t;
}

bool TokenSession::LoadModule(const std::string &path, std::string &error) {
    modulePath_ = path;
    where_ = "module " + path;
    std::string reason;
    module_ = LoadSharedModule(path, reason);
    if (!module_) {
        error = "the PKCS#11 module " + path + " cannot be loaded: " + reason;
        return false;
    }
    auto get = reinterpret_cast<ck::GetFunctionListFn>(module_->Function("C_GetFunctionList"));
    if (!get || get(&functions_) != ck::kOk || !functions_) {
        error = "the PKCS#11 module " + path + " is not one (no C_GetFunctionList)";
        return false;
    }
    const ck::Rv rv = functions_->Initialize(nullptr);
    if (rv != ck::kOk && rv != ck::kAlreadyInitialized) {
        error = "the PKCS#11 module " + path + " fails to start (C_Initialize: " + Hex(rv) + ")";
        return false;
    }
    initialized_ = rv == ck::kOk;
    return true;
}

bool TokenSession::OpenSlot(const Pkcs11Uri &uri, std::string &error) {
    ck::Ulong count = 0;
    std::vector<ck::SlotId> slots;
    if (functions_->GetSlotList(1, nullptr, &count) == ck::kOk) {
        slots.resize(count);
        if (functions_->GetSlotList(1, slots.data(), &count) != ck::kOk) count = 0;
        slots.resize(count);
    }
    for (ck::SlotId slot : slots) {
        ck::TokenInfo info{};
        if ((uri.HasSlotId && slot != uri.SlotId) || functions_->GetTokenInfo(slot, &info) != ck::kOk ||
            !TokenMatches(uri, info))
            continue;
        where_ = "token '" + Field(info.Label, sizeof info.Label) + "' (module " + modulePath_ + ")";
        const ck::Rv rv = functions_->OpenSession(slot, ck::kSerialSession, nullptr, nullptr, &session_);
        if (rv != ck::kOk) {
            error = "cannot open a session on " + where_ + " (C_OpenSession: " + Hex(rv) + ")";
            return false;
        }
        hasSession_ = true;
        return true;
    }
    error = "no token matches it in the PKCS#11 module " + modulePath_ + " (" +
            std::to_string(slots.size()) + " token(s) present)";
    return false;
}

bool TokenSession::Login(const Pkcs11Uri &uri, std::string &error) {
    std::string pin;
    if (!ReadPin(uri, pin, error)) {
        error = where_ + " " + error;
        return false;
    }
    const ck::Rv rv = functions_->Login(session_, ck::kUserNormal,
                                        reinterpret_cast<ck::Byte *>(pin.data()), ck::Ulong(pin.size()));
    if (rv == ck::kOk || rv == ck::kUserAlreadyLoggedIn) {
        loggedIn_ = rv == ck::kOk;
        return true;
    }
    const bool wrong = rv == ck::kPinIncorrect || rv == ck::kPinInvalid || rv == ck::kPinLenRange;
    error = where_ + (wrong ? " refused the PIN (wrong PIN)"
                      : rv == ck::kPinLocked ? " has its PIN locked"
                      : rv == ck::kPinExpired ? " has an expired PIN"
                                              : " refused the login (C_Login: " + Hex(rv) + ")");
    return false;
}

TokenSession::~TokenSession() {
    if (loggedIn_) functions_->Logout(session_);
    if (hasSession_) functions_->CloseSession(session_);
    if (initialized_) functions_->Finalize(nullptr);
}

bool TokenSession::FindObject(const Pkcs11Uri &uri, ck::Ulong objectClass, ck::ObjectHandle &out,
                              std::string &error) {
    std::vector<ck::Attribute> match{{ck::kAttrClass, &objectClass, sizeof objectClass}};
    std::string label = uri.Object;
    std::vector<uint8_t> id = uri.Id;
    if (uri.HasObject) match.push_back({ck::kAttrLabel, label.data(), ck::Ulong(label.size())});
    if (uri.HasId) match.push_back({ck::kAttrId, id.data(), ck::Ulong(id.size())});
    ck::ObjectHandle found[2];
    ck::Ulong count = 0;
    ck::Rv rv = functions_->FindObjectsInit(session_, match.data(), ck::Ulong(match.size()));
    if (rv == ck::kOk) {
        rv = functions_->FindObjects(session_, found, 2, &count);
        functions_->FindObjectsFinal(session_);
    }
    const char *what = objectClass == ck::kClassPrivateKey ? "private key" : "certificate";
    if (rv != ck::kOk || count != 1) {
        error = rv != ck::kOk ? std::string("cannot search ") + where_ + " (" + Hex(rv) + ")"
                : count == 0  ? std::string("no ") + what + " matches it on " + where_
                              : std::string("more than one ") + what +
                                   " matches it on " + where_ + "; name it by object or id";
        return false;
    }
    out = found[0];
    return true;
}

bool TokenSession::Attribute(ck::ObjectHandle object, ck::Ulong type, std::vector<uint8_t> &out) {
    ck::Attribute a{type, nullptr, 0};
    if (functions_->GetAttributeValue(session_, object, &a, 1) != ck::kOk || a.ValueLength == ck::kUnavailable)
        return false;
    out.resize(a.ValueLength);
    a.Value = out.data();
    return functions_->GetAttributeValue(session_, object, &a, 1) == ck::kOk && (out.resize(a.ValueLength), true);
}

bool TokenSession::SignRsa(ck::ObjectHandle key, const std::vector<uint8_t> &digestInfo,
                           std::vector<uint8_t> &signature, std::string &error) {
    ck::Mechanism mechanism{ck::kMechanismRsaPkcs, nullptr, 0};
    std::vector<uint8_t> data = digestInfo;
    ck::Ulong length = 0;
    ck::Rv rv = functions_->SignInit(session_, &mechanism, key);
    if (rv == ck::kOk) rv = functions_->Sign(session_, data.data(), ck::Ulong(data.size()), nullptr, &length);
    if (rv == ck::kOk) {
        signature.resize(length);
        rv = functions_->Sign(session_, data.data(), ck::Ulong(data.size()), signature.data(), &length);
        signature.resize(length);
    }
    if (rv != ck::kOk) error = "the key on " + where_ + " did not sign (C_Sign: " + Hex(rv) + ")";
    return rv == ck::kOk;
}

}  // namespace fwpack
