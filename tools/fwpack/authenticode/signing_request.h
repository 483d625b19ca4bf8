// Who signs a package, as the command line or the manifest asks for it.
// Free of the cryptography, so that a build without it (fwpack.exe) still
// knows the flags it refuses.
#pragma once
#include <string>

namespace fwpack {

// A protected key or PKCS#12 file takes its password from this variable,
// never from the command line.
inline constexpr char kSignPasswordVariable[] = "FWPACK_SIGN_PASSWORD";
// A token's PIN comes from this variable (or the URI's pin-source).
inline constexpr char kSignPinVariable[] = "FWPACK_SIGN_PIN";

struct SigningRequest {
    std::string Cert;     // PEM: the signer's certificate first, then its chain
    std::string Key;      // PEM private key
    std::string Pkcs12;   // instead of Cert and Key
    std::string Pkcs11;   // instead of Key: a pkcs11: URI of a key on a token
    std::string Pkcs11Module;   // the token's PKCS#11 module; "" for the system's default
    std::string TimestampUrl;
    bool Wanted() const {
        return !Cert.empty() || !Key.empty() || !Pkcs12.empty() || !Pkcs11.empty();
    }
};

}  // namespace fwpack
