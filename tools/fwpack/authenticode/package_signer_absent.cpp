// The signer where OpenSSL is not built in (fwpack.exe): signing is
// refused with one line, and a signature is found but not read.
#include "tools/fwpack/authenticode/package_signing.h"

#include "tools/fwpack/authenticode/read.h"
#include "tools/fwpack/authenticode/table.h"

namespace fwpack {

std::string SigningUnavailable() {
    return "signing and reading signatures are not built into fwpack.exe (it has no OpenSSL); "
           "use the Linux fwpack for them";
}

bool LoadSigner(const SigningRequest &, SigningPlan &, std::string &error) {
    error = "build: " + SigningUnavailable();
    return false;
}

PackageFinisher SigningStep(const SigningPlan &) { return {}; }

SignatureReport ReadSignature(const std::vector<uint8_t> &file, const std::string &) {
    SignatureReport r;
    SignatureSpan span;
    if (FindSignatureTable(file, span, r)) r.Unchecked = SigningUnavailable();
    return r;
}

}  // namespace fwpack
