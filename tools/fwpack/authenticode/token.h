// A PKCS#11 token reached through its module: the module loaded through the
// seam, the token the URI names found among its slots, a session logged in
// with the PIN from FWPACK_SIGN_PIN (or the URI's pin-source), its objects
// found by the URI, and signing with a key that never leaves the token.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_module.h"
#include "tools/fwpack/authenticode/pkcs11_types.h"
#include "tools/fwpack/authenticode/pkcs11_uri.h"
#include "tools/fwpack/authenticode/signing_request.h"

namespace fwpack {

class TokenSession {
public:
    // Opens the token uri names. module: the --pkcs11-module path, else the
    // URI's module-path, else the system's default module. login: log in as
    // the user (a private key needs it). On failure null and one line that
    // names the module used.
    static std::unique_ptr<TokenSession> Open(const Pkcs11Uri &uri, const std::string &module,
                                              bool login, std::string &error);
    ~TokenSession();
    TokenSession(const TokenSession &) = delete;
    TokenSession &operator=(const TokenSession &) = delete;

    // The one object of class objectClass the URI names; false with one line
    // when there is none or more than one.
    bool FindObject(const Pkcs11Uri &uri, ck::Ulong objectClass, ck::ObjectHandle &out,
                    std::string &error);
    // An attribute's bytes; false when the token does not give it.
    bool Attribute(ck::ObjectHandle object, ck::Ulong type, std::vector<uint8_t> &out);
    // CKM_RSA_PKCS over digestInfo (a DER DigestInfo) with key.
    bool SignRsa(ck::ObjectHandle key, const std::vector<uint8_t> &digestInfo,
                 std::vector<uint8_t> &signature, std::string &error);
    // "token 'Label' (module PATH)", for lines about it.
    const std::string &Where() const { return where_; }

private:
    TokenSession() = default;
    bool LoadModule(const std::string &path, std::string &error);
    bool OpenSlot(const Pkcs11Uri &uri, std::string &error);
    bool Login(const Pkcs11Uri &uri, std::string &error);

    std::unique_ptr<SharedModule> module_;
    ck::FunctionList *functions_ = nullptr;
    bool initialized_ = false;
    bool loggedIn_ = false;
    ck::SessionHandle session_ = 0;
    bool hasSession_ = false;
    std::string modulePath_;
    std::string where_;
};

}  // namespace fwpack
