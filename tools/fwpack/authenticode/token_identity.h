// A signer whose key stays on a PKCS#11 token: the certificate from a PEM
// file or from the token, the key's public half read from the token (so the
// usual checks run on it), and the signature value made by the token.
#pragma once
#include <openssl/pkcs7.h>

#include <memory>
#include <string>

#include "tools/fwpack/authenticode/token.h"

namespace fwpack {

struct SigningRequest;
struct SigningIdentity;

struct TokenKey {
    std::unique_ptr<TokenSession> Session;
    ck::ObjectHandle Key = 0;
};

// Loads request's certificate and token key into out (out.Key is the
// public key, out.Token the key on the token).
bool LoadTokenIdentity(const SigningRequest &request, SigningIdentity &out, std::string &error);

// Signs si's signed attributes with the token key, as libcrypto would with
// a key file (RSA PKCS#1 v1.5 over their SHA-256 DigestInfo).
bool SignAttributesOnToken(PKCS7_SIGNER_INFO *si, TokenKey &key, std::string &error);

}  // namespace fwpack
