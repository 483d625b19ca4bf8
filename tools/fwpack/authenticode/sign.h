// Signing a finished package .exe: the signer's certificate and key, and the
// signature itself (SHA-256 image digest, PKCS#7 SignedData around the PE
// image's indirect data, appended as the certificate table).
#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tools/fwpack/authenticode/openssl_util.h"
#include "tools/fwpack/authenticode/signing_request.h"

namespace fwpack {

struct TokenKey;

struct SigningIdentity {
    X509Ptr Cert;
    KeyPtr Key;           // the public key alone when the key is on a token
    X509StackPtr Chain;   // carried in the signature so a verifier can build the path
    std::shared_ptr<TokenKey> Token;   // the key on a PKCS#11 token, or null
};

// Reads the PEM certificates at path (--sign-cert): the signer's first,
// then its chain.
bool LoadCertificates(const std::string &path, SigningIdentity &out, std::string &error);

// DER DigestInfo: the SHA-256 algorithm and the digest.
std::vector<uint8_t> Sha256DigestInfo(const std::vector<uint8_t> &digest);

// The signing time: now, or SOURCE_DATE_EPOCH (seconds since 1970) when it
// is set, for builds that must come out the same byte for byte.
bool SigningTime(time_t &out, std::string &error);

// Loads and checks the identity: the files read, the key matches the
// certificate, the certificate is valid now and may sign code. On failure
// error is one line saying which of these it is.
bool LoadSigningIdentity(const SigningRequest &request, SigningIdentity &out, std::string &error);

// Signs the package in place. A certificate table the file holds already is
// refused. With a time-stamp URL the signature is time-stamped there.
bool SignPeImage(std::vector<uint8_t> &file, const SigningIdentity &identity,
                 const std::string &timestampUrl, std::string &error);

}  // namespace fwpack
