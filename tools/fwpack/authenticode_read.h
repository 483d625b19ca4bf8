// Reading a package's code signature without trusting a byte of it: the
// certificate table, the PKCS#7 SignedData in it, the signed image digest
// beside one computed afresh, the signature checked against the signer's
// own certificate and, when asked, the certificate chain to a given root.
// Independent of whatever made the signature.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/authenticode_timestamp.h"

namespace fwpack {

struct SignatureReport {
    bool Signed = false;     // the directory entry names a certificate table
    bool Readable = false;   // the table holds a PKCS#7 signature of a PE image
    std::string Subject, Issuer, NotBefore, NotAfter;   // the signer's certificate
    std::string DigestAlgorithm;                        // "sha256"
    std::string SignedDigest, FileDigest;               // hex
    bool DigestMatches = false;
    bool SignatureVerifies = false;
    size_t Certificates = 0;
    TimestampReport Timestamp;
    bool TrustChecked = false, Trusted = false;
    // One line per problem, each starting "signature: "; empty when sound.
    std::vector<std::string> Problems;
};

// trustFile: PEM root certificate(s) the chain must lead to; "" checks no
// chain. A timestamped signature's chain is checked at its time-stamp.
SignatureReport ReadSignature(const std::vector<uint8_t> &file, const std::string &trustFile = "");

}  // namespace fwpack
