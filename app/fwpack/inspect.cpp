// fwpack inspect: every resource of a package as text or JSON, with the DOS
// program of a Windows package and the signature of a Windows or UEFI
// package.
#include <iostream>
#include <memory>

#include "app/fwpack/command.h"
#include "fwpack_config.h"
#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/read.h"
#include "tools/fwpack/inspect/inspect_format.h"
#include "tools/fwpack/inspect/signature_format.h"

namespace fwpack {
namespace {

struct InspectArgs {
    std::string Path;
    bool Json = false;
    std::string Trust;
};

int RunInspect(const InspectArgs &a) {
    PayloadReport report;
    ContainerKind kind;
    std::vector<uint8_t> file;
    if (!Load(a.Path, report, kind, file)) return kExitBadInput;
    std::string signature;
    if (kind == ContainerKind::WindowsPackage || kind == ContainerKind::UefiPackage) {
        SignatureReport s = ReadSignature(file, a.Trust);
        signature = a.Json ? SignatureJson(s) : SignatureText(s);
    }
    // The reader's version: what a report says may change as fwpack learns more.
    const std::string reader = "\"fwpack_version\": " + JsonString(kFwpackVersion);
    std::cout << (a.Json ? InspectJson(report, a.Path, kind, {reader, signature})
                         : InspectText(report, a.Path, kind));
    std::string dos, error;
    if (!a.Json && kind == ContainerKind::WindowsPackage && DescribeDosProgram(file, dos, error))
        std::cout << dos << "\n";
    if (!a.Json) std::cout << signature;
    return kExitOk;
}

}  // namespace

Subcommand AddInspect(CLI::App &app) {
    auto a = std::make_shared<InspectArgs>();
    CLI::App *inspect = app.add_subcommand(
        "inspect", "Show every resource: headers, zlib streams, records, option block.");
    AddPackagePath(*inspect, a->Path);
    inspect->add_flag("--json", a->Json, "print JSON instead of text");
    inspect->add_option("--trust", a->Trust,
                        "PEM root certificate(s): show whether the signer and the time-stamp's "
                        "authority chain to one of them");
    return {inspect, [a] { return RunInspect(*a); }};
}

}  // namespace fwpack
