// fwpack: builds firmware-update packages from a manifest, and inspects,
// verifies and extracts the resources of a built package.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "tools/fwpack/inspect/signature_format.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/inspect/extract.h"
#include "tools/fwpack/manifest/flag_names.h"
#include "tools/fwpack/inspect/inspect_format.h"
#include "tools/fwpack/manifest/manifest.h"
#include "tools/fwpack/authenticode/package_signing.h"
#include "payload/tagged_resource.h"
#include "tools/fwpack/builder/payload_builder.h"
#include "tools/fwpack/inspect/payload_check.h"
#include "tools/fwpack/inspect/payload_report.h"
#include "platform/builder_files.h"
#include "platform/program_text.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace {

using namespace fwpack;

constexpr int kExitOk = 0, kExitProblems = 1, kExitBadInput = 2;

int Fail(const std::string &line) {
    std::cerr << "fwpack: " << line << "\n";
    return kExitBadInput;
}

struct BuildArgs {
    std::string Manifest, ResourcesDir, Stub, DosStub, DosProgram, Output;
    bool Replace = false;
    int Level = kDefaultDeflateLevel;
    SigningRequest Sign;
};

int RunBuild(const BuildArgs &a) {
    bool toFolder = !a.ResourcesDir.empty(), toPackage = !a.Output.empty();
    if (toFolder == toPackage) return Fail("build: give either --resources-dir DIR or -o FILE");
    if (toPackage && a.Stub.empty() == a.DosStub.empty())
        return Fail(
            "build: -o needs exactly one of --stub (Windows package) and --dos-stub (Linux "
            "package)");
    if (!toPackage && (!a.Stub.empty() || !a.DosStub.empty()))
        return Fail("build: --stub and --dos-stub need -o FILE");
    if (a.Replace && a.Stub.empty()) return Fail("build: --replace applies to --stub only");
    if (!a.DosProgram.empty() && a.Stub.empty())
        return Fail("build: --dos-program applies to --stub only");

    Manifest m;
    std::string error;
    if (!LoadManifest(a.Manifest, m, error)) return Fail(error);
    BuildSettings settings;
    settings.Level = a.Level;
    settings.LinuxPackage = !a.DosStub.empty();
    ResourceSet set;
    SigningPlan signing;
    std::string note;
    if (!PlanSigning(a.Sign, m, !a.Stub.empty(), signing, note, error)) return Fail(error);
    if (!note.empty()) std::cerr << "fwpack: note: " << note << "\n";
    if (!BuildPayload(m, settings, set, error)) return Fail(error);
    if (!a.Stub.empty() && StubCarriesSignature(a.Stub))
        std::cerr << "fwpack: note: stub " << a.Stub
                  << " is signed; its certificate table is dropped, as the new resources break it\n";

    bool ok = toFolder          ? WriteResourcesFolder(a.ResourcesDir, set, error)
              : !a.Stub.empty() ? WritePePackage(a.Stub, set, a.Output, a.Replace, error,
                                                 a.DosProgram, SigningStep(signing))
                                : WriteRunPackage(a.DosStub, set, a.Output, error);
    if (!ok) return Fail(error);
    std::cout << "wrote " << (toFolder ? a.ResourcesDir : a.Output) << ":";
    const bool linuxPackage = toPackage && a.Stub.empty();
    for (const auto &[id, bytes] : set) {
        if (linuxPackage && id == ToolPackage) continue;   // the DOS side has no use for it
        std::cout << " " << id << " (" << bytes.size() << " bytes)";
    }
    std::cout << "\n";
    return kExitOk;
}

bool Load(const std::string &path, PayloadReport &report, ContainerKind &kind) {
    ResourceSet set;
    std::string error;
    if (!ReadContainer(path, set, kind, error)) {
        Fail(error);
        return false;
    }
    report = AnalyzePayload(std::move(set), kind);
    return true;
}

// A Windows package's signature; trust: root certificates for the chain, or "".
SignatureReport Signature(const std::string &path, const std::string &trust) {
    std::vector<uint8_t> file;
    std::string error;
    if (!ReadWholeFile(path, file, error)) {
        SignatureReport unread;
        unread.Problems.push_back("signature: " + error);
        return unread;
    }
    return ReadSignature(file, trust);
}

int RunInspect(const std::string &path, bool json) {
    PayloadReport report;
    ContainerKind kind;
    if (!Load(path, report, kind)) return kExitBadInput;
    std::string signature;
    if (kind == ContainerKind::WindowsPackage) {
        SignatureReport s = Signature(path, "");
        signature = json ? SignatureJson(s) : SignatureText(s);
    }
    std::cout << (json ? InspectJson(report, path, kind, signature) : InspectText(report, path, kind));
    std::string dos, error;
    if (!json && kind == ContainerKind::WindowsPackage && DescribeDosProgram(path, dos, error))
        std::cout << dos << "\n";
    if (!json) std::cout << signature;
    return kExitOk;
}

struct VerifyArgs {
    bool RequireSignature = false;
    std::string Trust;
};

// The signature's problems; an unsigned package is one only when required.
std::vector<std::string> SignatureProblems(const std::string &path, ContainerKind kind,
                                           const VerifyArgs &v) {
    if (kind != ContainerKind::WindowsPackage)
        return v.RequireSignature || !v.Trust.empty()
                   ? std::vector<std::string>{std::string("signature: a ") + ContainerKindName(kind) +
                                              " carries none; only Windows packages are signed"}
                   : std::vector<std::string>{};
    SignatureReport s = Signature(path, v.Trust);
    if (!s.Unchecked.empty())
        std::cerr << "fwpack: note: " << path << " is signed; its signature is not checked: "
                  << s.Unchecked << "\n";
    if (!s.Signed && (v.RequireSignature || !v.Trust.empty()) && s.Problems.empty())
        s.Problems.push_back("signature: none, and one is required");
    return s.Problems;
}

int RunVerify(const std::string &path, const VerifyArgs &v) {
    if ((v.RequireSignature || !v.Trust.empty()) && !SigningUnavailable().empty())
        return Fail("verify: " + SigningUnavailable());
    PayloadReport report;
    ContainerKind kind;
    if (!Load(path, report, kind)) return kExitBadInput;
    std::vector<std::string> problems = PayloadProblems(report);
    std::string dos, error;
    if (kind == ContainerKind::WindowsPackage && !DescribeDosProgram(path, dos, error))
        problems.push_back("DOS program: " + error);
    for (std::string &p : SignatureProblems(path, kind, v)) problems.push_back(std::move(p));
    for (const auto &p : problems) std::cout << p << "\n";
    if (!problems.empty()) return kExitProblems;
    std::cout << path << ": consistent\n";
    return kExitOk;
}

int RunExtract(const std::string &path, const std::string &dir) {
    PayloadReport report;
    ContainerKind kind;
    if (!Load(path, report, kind)) return kExitBadInput;
    std::vector<std::string> written;
    std::string error;
    if (!ExtractPayload(report, dir, written, error)) return Fail(error);
    for (const auto &w : written) std::cout << Printable(w) << "\n";
    return kExitOk;
}

int RunDosProgram(const std::string &pe, const std::string &dos, const std::string &output) {
    std::string error;
    if (!WriteDualModeProgram(pe, dos, output, error)) return Fail(error);
    std::cout << "wrote " << output << ": " << dos << " in front of " << pe << "\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
    Utf8Console console;
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char *> argp;
    for (std::string &a : args) argp.push_back(a.data());

    CLI::App app{"fwpack: build, inspect, verify and extract firmware-update packages"};
    // "/x" is a path on every host, never an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.failure_message([](const CLI::App *, const CLI::Error &e) {
        return std::string("fwpack: ") + e.what() + " (see --help)\n";
    });
    app.footer("Exit codes: 0 ok, 1 verify found problems, 2 bad input or usage.");

    BuildArgs b;
    CLI::App *build =
        app.add_subcommand("build", "Build the five payload resources from a manifest (TOML).");
    build->add_option("MANIFEST", b.Manifest, "package manifest (.toml)")->required();
    build->add_option("--resources-dir", b.ResourcesDir,
                      "write the resources as DIR/2000.bin .. DIR/2004.bin");
    build->add_option("-o,--output", b.Output, "write a package file (with --stub or --dos-stub)");
    build->add_option("--stub", b.Stub, "Windows updater .exe to put the resources into");
    build->add_option("--dos-stub", b.DosStub, "DOS updater program to append the resources to");
    build->add_flag("--replace", b.Replace, "replace SETUP resources the stub already holds");
    build->add_option("--dos-program", b.DosProgram,
                      "with --stub: a real-mode DOS program (MZ file) to put in front of the "
                      "package's PE headers, making the package dual-mode");
    build->add_option("--level", b.Level, "deflate level 0..9 (default 6)")
        ->check(CLI::Range(0, 9));
    build->add_option("--sign-cert", b.Sign.Cert,
                      "sign the package: PEM certificate, the signer's first, then its chain");
    build->add_option("--sign-key", b.Sign.Key, "the signer's PEM private key");
    build->add_option("--sign-pkcs12", b.Sign.Pkcs12,
                      "sign with the key and certificates of a PKCS#12 file instead");
    build->add_option("--timestamp-url", b.Sign.TimestampUrl,
                      "time-stamp the signature at this RFC 3161 authority (http://)");
    build->footer(
        "Flag names for [options] flags (or give the number, e.g. flags = 0x3):\n" +
        FlagNamesHelp() +
        "\nFile times: each record takes the source file's last access and last write time; "
        "its creation time is the file's birth time where the system reports one "
        "(always on Windows, statx on Linux), else its last write time.\n"
        "Without a [dos] section resource 2000 holds an empty package (0 files).\n"
        "Nothing is written unless the whole build succeeds.\n"
        "Signing: a protected key or PKCS#12 file takes its password from " +
        std::string(kSignPasswordVariable) +
        ". The flags win over the manifest's [signing] section (cert, key, pkcs12, "
        "timestamp_url). A signature without a time-stamp expires with its certificate." +
        (SigningUnavailable().empty() ? "" : "\n" + SigningUnavailable() + "."));

    std::string path, dir;
    bool json = false;
    CLI::App *inspect = app.add_subcommand(
        "inspect", "Show every resource: headers, zlib streams, records, option block.");
    inspect->add_option("PATH", path, "resources folder, package .exe or Linux package")
        ->required();
    inspect->add_flag("--json", json, "print JSON instead of text");

    CLI::App *verify = app.add_subcommand(
        "verify", "Check a package; prints one line per problem and exits 1 when there are any.");
    verify->add_option("PATH", path, "resources folder, package .exe or Linux package")->required();
    VerifyArgs v;
    verify->add_flag("--require-signature", v.RequireSignature, "an unsigned package is a problem");
    verify->add_option("--trust", v.Trust,
                       "PEM root certificate(s): the signer's chain must lead to one of them");

    CLI::App *extract = app.add_subcommand(
        "extract", "Unpack every package into DIR/<package name>/ with the stored file times.");
    extract->add_option("PATH", path, "resources folder, package .exe or Linux package")
        ->required();
    extract->add_option("DIR", dir, "folder to unpack into")->required();

    std::string pe, dos, output;
    CLI::App *dosProgram = app.add_subcommand(
        "dos-program",
        "Put a real-mode DOS program in front of a Windows program's PE headers (its DOS stub).");
    dosProgram->add_option("PE", pe, "Windows program (.exe), unsigned")->required();
    dosProgram->add_option("DOS", dos, "real-mode DOS program (MZ file)")->required();
    dosProgram->add_option("-o,--output", output, "file to write (may be PE itself)")->required();

    try {
        app.parse(int(argp.size()), argp.data());
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitBadInput;
    }
    try {
        if (build->parsed()) return RunBuild(b);
        if (inspect->parsed()) return RunInspect(path, json);
        if (verify->parsed()) return RunVerify(path, v);
        if (extract->parsed()) return RunExtract(path, dir);
        if (dosProgram->parsed()) return RunDosProgram(pe, dos, output);
    } catch (const std::exception &e) {
        // A name the system cannot take as a path, or memory that ran out:
        // one line, after the staged files have been removed.
        return Fail(e.what());
    }
    return kExitBadInput;
}
