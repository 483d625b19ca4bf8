#include "tools/fwpack/authenticode/package_signing.h"

#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/table.h"

namespace fwpack {
namespace {

// The signer's files are named by the flag they came from; when they came
// from the manifest, the line names its key instead.
std::string NamedAsManifestKey(const std::string &error, const Manifest &m) {
    static const std::pair<std::string, std::string> keys[] = {
        {"--sign-cert", "signing.cert"}, {"--sign-key", "signing.key"}, {"--sign-pkcs12", "signing.pkcs12"}};
    for (const auto &[flag, key] : keys)
        if (error.compare(0, flag.size(), flag) == 0) return m.Path + ": " + key + error.substr(flag.size());
    return error;
}

}  // namespace

bool PlanSigning(const SigningRequest &flags, const Manifest &m, bool peOutput,
                 SigningPlan &out, std::string &note, std::string &error) {
    out = SigningPlan{};
    SigningRequest request = flags;
    if (!flags.Wanted()) {
        request.Cert = m.SignCert;
        request.Key = m.SignKey;
        request.Pkcs12 = m.SignPkcs12;
        request.Pkcs11 = m.SignPkcs11;
        request.Pkcs11Module = m.SignPkcs11Module;
    }
    if (request.TimestampUrl.empty()) request.TimestampUrl = m.TimestampUrl;
    if (!request.Wanted()) {
        if (flags.TimestampUrl.empty()) return true;
        error = "build: --timestamp-url needs a signer (--sign-cert with --sign-key or --sign-pkcs11, or --sign-pkcs12)";
        return false;
    }
    if (!peOutput) {
        if (!flags.Wanted() && flags.TimestampUrl.empty()) {
            note = m.Path + ": [signing] applies to Windows packages (--stub) and UEFI packages (--efi-stub); this output is not signed";
            return true;
        }
        error = "build: signing applies to Windows packages (--stub -o FILE) and UEFI packages "
                "(--efi-stub -o FILE)";
        return false;
    }
    if (!LoadSigner(request, out, error)) {
        if (!flags.Wanted()) error = NamedAsManifestKey(error, m);
        return false;
    }
    out.Sign = true;
    out.TimestampUrl = request.TimestampUrl;
    return true;
}

bool StubCarriesSignature(const std::string &stubPath) {
    std::vector<uint8_t> stub;
    std::string error;
    SignatureSpan span;
    if (!ReadWholeFile(stubPath, stub, error)) return false;
    LocateSignature(stub, span, error);   // a damaged entry is dropped all the same
    return span.HasTable();
}

}  // namespace fwpack
