// Signing as a step of `fwpack build`: who signs (the command line's
// --sign-* flags, else the manifest's [signing] section) and the step that
// signs the finished package bytes.
#pragma once
#include <memory>
#include <string>

#include "tools/fwpack/container/container.h"
#include "tools/fwpack/manifest/manifest.h"
#include "tools/fwpack/authenticode/signing_request.h"

namespace fwpack {

struct SigningIdentity;   // the signer's certificate and key, where signing is built in

struct SigningPlan {
    bool Sign = false;
    std::shared_ptr<SigningIdentity> Identity;
    std::string TimestampUrl;
};

// flags: the command line's signing options. A flag naming the signer
// replaces the manifest's signer as a whole; --timestamp-url replaces its
// timestamp_url. The identity is loaded and checked here, before anything
// is built. peOutput: only Windows and UEFI packages (PE files) are
// signed; signing flags for other outputs are an error, a manifest's
// section is skipped with a note.
bool PlanSigning(const SigningRequest &flags, const Manifest &m, bool peOutput,
                 SigningPlan &out, std::string &note, std::string &error);

// The build's last step: signs the finished bytes.
PackageFinisher SigningStep(const SigningPlan &plan);

// True when the stub .exe carries a certificate table (its signature is
// dropped by the build, as the new resources would break it anyway).
bool StubCarriesSignature(const std::string &stubPath);

// The two builds of the signer: package_signer.cpp links OpenSSL (Linux);
// package_signer_absent.cpp stands in where it is not built (fwpack.exe).
//
// Empty where this build signs and reads signatures; else the one line
// that says it cannot.
std::string SigningUnavailable();
// Loads and checks request's signer into plan.
bool LoadSigner(const SigningRequest &request, SigningPlan &plan, std::string &error);

}  // namespace fwpack
