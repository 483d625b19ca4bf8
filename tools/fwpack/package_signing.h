// Signing as a step of `fwpack build`: who signs (the command line's
// --sign-* flags, else the manifest's [signing] section) and the step that
// signs the finished package bytes.
#pragma once
#include <string>

#include "tools/fwpack/authenticode_sign.h"
#include "tools/fwpack/container.h"
#include "tools/fwpack/manifest.h"

namespace fwpack {

struct SigningPlan {
    bool Sign = false;
    SigningIdentity Identity;
    std::string TimestampUrl;
};

// flags: the command line's signing options. A flag naming the signer
// replaces the manifest's signer as a whole; --timestamp-url replaces its
// timestamp_url. The identity is loaded and checked here, before anything
// is built. windowsPackage: only those are signed; signing flags for other
// outputs are an error, a manifest's section is skipped with a note.
bool PlanSigning(const SigningRequest &flags, const Manifest &m, bool windowsPackage,
                 SigningPlan &out, std::string &note, std::string &error);

// The build's last step: signs the finished bytes.
PackageFinisher SigningStep(const SigningPlan &plan);

// True when the stub .exe carries a certificate table (its signature is
// dropped by the build, as the new resources would break it anyway).
bool StubCarriesSignature(const std::string &stubPath);

}  // namespace fwpack
