// What reading a package's signature found, as inspect and verify report
// it; the same on every build, whether or not it can read signatures.
#pragma once
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace fwpack {

struct TimestampReport {
    bool Present = false;
    bool Rfc3161 = false;       // else an older countersignature, not read further
    bool Matches = false;       // the token covers this signature value
    // The signer's chain was judged at the token's time: the token matches,
    // and its authority is a time-stamping certificate that chains to a
    // trusted root. Else NotUsed says why the chain was judged now.
    bool Used = false;
    std::string Time, Authority, Problem, NotUsed;
    time_t When = 0;
};

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
    // Why a signature was not read, when this build cannot read one.
    std::string Unchecked;
    // One line per problem, each starting "signature: "; empty when sound.
    // The nested signatures' problems are among them.
    std::vector<std::string> Problems;
    // Further signatures nested in this one, each read as this one is.
    std::vector<SignatureReport> Nested;
};

}  // namespace fwpack
