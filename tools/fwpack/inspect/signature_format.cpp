#include "tools/fwpack/inspect/signature_format.h"

#include <sstream>

#include "tools/fwpack/inspect/inspect_format.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace fwpack {
namespace {

const char *Bool(bool b) { return b ? "true" : "false"; }

std::string TimestampLine(const SignatureReport &r) {
    const TimestampReport &t = r.Timestamp;
    if (!t.Present) return "none: the signature expires with the certificate on " + r.NotAfter;
    if (!t.Rfc3161) return "not used: " + t.NotUsed;
    std::string line = t.Time.empty() ? "unreadable" : t.Time;
    if (!t.Authority.empty()) line += " by " + Printable(t.Authority);
    if (!t.Matches) return line + "  " + t.Problem;
    return line + (t.Used ? ", used for the chain" : ", not used: " + t.NotUsed);
}

// A nested signature in one line: its signer, digest and the checks.
std::string NestedLine(size_t i, const SignatureReport &n) {
    std::string line = "  nested " + std::to_string(i + 1) + "      ";
    if (!n.Readable) return line + "not readable\n";
    line += Printable(n.Subject) + ", " + n.DigestAlgorithm +
            (n.DigestMatches ? " matches the file" : " MISMATCH") +
            (n.SignatureVerifies ? ", verifies" : ", does NOT verify");
    if (n.Timestamp.Present) line += ", time-stamped " + n.Timestamp.Time;
    if (n.TrustChecked) line += n.Trusted ? ", trusted" : ", NOT trusted";
    return line + "\n";
}

}  // namespace

std::string SignatureText(const SignatureReport &r) {
    std::ostringstream s;
    s << "\nsignature\n";
    s << "  signed        " << (r.Signed ? "yes" : "no") << "\n";
    if (!r.Unchecked.empty()) s << "  not read      " << r.Unchecked << "\n";
    if (r.Readable) {
        s << "  signer        " << Printable(r.Subject) << "\n";
        s << "  issuer        " << Printable(r.Issuer) << "\n";
        s << "  valid         " << r.NotBefore << " to " << r.NotAfter << "\n";
        s << "  digest        " << r.DigestAlgorithm
          << (r.DigestMatches ? ", matches the file" : ", MISMATCH: the file changed after signing")
          << "\n";
        s << "  verifies      "
          << (r.SignatureVerifies ? "yes, against the signer's certificate" : "NO") << "\n";
        s << "  certificates  " << r.Certificates << "\n";
        s << "  timestamp     " << TimestampLine(r) << "\n";
        if (r.TrustChecked) s << "  trusted       " << (r.Trusted ? "yes" : "NO") << "\n";
        for (size_t i = 0; i < r.Nested.size(); ++i) s << NestedLine(i, r.Nested[i]);
    }
    for (const std::string &p : r.Problems) s << "  " << p << "\n";
    return s.str();
}

std::string SignatureJson(const SignatureReport &r) {
    std::ostringstream s;
    s << "\"signature\": {\"signed\": " << Bool(r.Signed) << ", \"readable\": " << Bool(r.Readable);
    if (!r.Unchecked.empty()) s << ", \"not_read\": " << JsonString(r.Unchecked);
    if (r.Readable) {
        s << ",\n    \"subject\": " << JsonString(r.Subject) << ", \"issuer\": " << JsonString(r.Issuer)
          << ",\n    \"not_before\": " << JsonString(r.NotBefore)
          << ", \"not_after\": " << JsonString(r.NotAfter)
          << ",\n    \"digest_algorithm\": " << JsonString(r.DigestAlgorithm)
          << ", \"digest_matches\": " << Bool(r.DigestMatches)
          << ", \"signed_digest\": " << JsonString(r.SignedDigest)
          << ", \"file_digest\": " << JsonString(r.FileDigest)
          << ",\n    \"signature_verifies\": " << Bool(r.SignatureVerifies)
          << ", \"certificates\": " << r.Certificates << ", \"timestamp\": ";
        if (r.Timestamp.Present)
            s << "{\"rfc3161\": " << Bool(r.Timestamp.Rfc3161) << ", \"time\": " << JsonString(r.Timestamp.Time)
              << ", \"authority\": " << JsonString(r.Timestamp.Authority)
              << ", \"matches\": " << Bool(r.Timestamp.Matches) << ", \"used\": " << Bool(r.Timestamp.Used)
              << ", \"not_used\": " << JsonString(r.Timestamp.NotUsed) << "}";
        else
            s << "null";
        if (r.TrustChecked) s << ", \"trusted\": " << Bool(r.Trusted);
        s << ", \"nested\": [";
        for (size_t i = 0; i < r.Nested.size(); ++i) {
            const SignatureReport &n = r.Nested[i];
            s << (i ? ", " : "") << "{\"readable\": " << Bool(n.Readable) << ", \"subject\": " << JsonString(n.Subject)
              << ", \"digest_algorithm\": " << JsonString(n.DigestAlgorithm)
              << ", \"digest_matches\": " << Bool(n.DigestMatches)
              << ", \"signature_verifies\": " << Bool(n.SignatureVerifies) << "}";
        }
        s << "]";
    }
    s << ",\n    \"problems\": [";
    for (size_t i = 0; i < r.Problems.size(); ++i) s << (i ? ", " : "") << JsonString(r.Problems[i]);
    s << "]}";
    return s.str();
}

}  // namespace fwpack
