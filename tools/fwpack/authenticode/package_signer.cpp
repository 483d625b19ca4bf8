// The signer where OpenSSL is built in (the Linux fwpack).
#include "tools/fwpack/authenticode/package_signing.h"

#include "tools/fwpack/authenticode/sign.h"

namespace fwpack {

std::string SigningUnavailable() { return {}; }

bool LoadSigner(const SigningRequest &request, SigningPlan &plan, std::string &error) {
    plan.Identity = std::make_shared<SigningIdentity>();
    return LoadSigningIdentity(request, *plan.Identity, error);
}

PackageFinisher SigningStep(const SigningPlan &plan) {
    if (!plan.Sign) return {};
    return [&plan](std::vector<uint8_t> &bytes, std::string &error) {
        if (SignPeImage(bytes, *plan.Identity, plan.TimestampUrl, error)) return true;
        error = "signing: " + error;
        return false;
    };
}

}  // namespace fwpack
