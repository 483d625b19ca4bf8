// fwpack verify: one line per problem of a package (its payload, its PE
// layout, its DOS program or its EFI application, what the tag scan finds,
// its signature);
// exit 1 when there are any.
#include <iostream>
#include <memory>

#include "app/fwpack/command.h"
#include "tools/fwpack/authenticode/package_signing.h"
#include "tools/fwpack/authenticode/read.h"
#include "tools/fwpack/inspect/payload_check.h"

namespace fwpack {
namespace {

struct VerifyArgs {
    std::string Path;
    bool RequireSignature = false;
    std::string Trust;
};

// The signature's problems; an unsigned package is one only when required.
std::vector<std::string> SignatureProblems(const std::vector<uint8_t> &file, ContainerKind kind,
                                           const VerifyArgs &v) {
    if (kind != ContainerKind::WindowsPackage && kind != ContainerKind::UefiPackage)
        return v.RequireSignature || !v.Trust.empty()
                   ? std::vector<std::string>{std::string("signature: a ") + ContainerKindName(kind) +
                                              " carries none; only Windows and UEFI packages are "
                                              "signed"}
                   : std::vector<std::string>{};
    SignatureReport s = ReadSignature(file, v.Trust);
    if (!s.Unchecked.empty())
        std::cerr << "fwpack: note: " << v.Path << " is signed; its signature is not checked: "
                  << s.Unchecked << "\n";
    if (!s.Signed && (v.RequireSignature || !v.Trust.empty()) && s.Problems.empty())
        s.Problems.push_back("signature: none, and one is required");
    return s.Problems;
}

int RunVerify(const VerifyArgs &v) {
    if ((v.RequireSignature || !v.Trust.empty()) && !SigningUnavailable().empty())
        return Fail("verify: " + SigningUnavailable());
    PayloadReport report;
    ContainerKind kind;
    std::vector<uint8_t> file;
    if (!Load(v.Path, report, kind, file)) return kExitBadInput;
    std::vector<std::string> problems = PayloadProblems(report);
    if (kind == ContainerKind::WindowsPackage)
        for (std::string &p : WindowsPackageProblems(file)) problems.push_back(std::move(p));
    if (kind == ContainerKind::UefiPackage)
        for (std::string &p : EfiPackageProblems(file)) problems.push_back(std::move(p));
    for (std::string &p : SignatureProblems(file, kind, v)) problems.push_back(std::move(p));
    for (const auto &p : problems) std::cout << p << "\n";
    if (!problems.empty()) return kExitProblems;
    std::cout << v.Path << ": consistent\n";
    return kExitOk;
}

}  // namespace

Subcommand AddVerify(CLI::App &app) {
    auto v = std::make_shared<VerifyArgs>();
    CLI::App *verify = app.add_subcommand(
        "verify", "Check a package; prints one line per problem and exits 1 when there are any.");
    AddPackagePath(*verify, v->Path);
    verify->add_flag("--require-signature", v->RequireSignature, "an unsigned package is a problem");
    verify->add_option("--trust", v->Trust,
                       "PEM root certificate(s): the signer's chain must lead to one of them");
    return {verify, [v] { return RunVerify(*v); }};
}

}  // namespace fwpack
