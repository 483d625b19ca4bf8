// fwpack build: a manifest into the five resources, written as a folder,
// a Windows package, a Linux package or a UEFI package, signed where asked.
#include <iostream>
#include <memory>

#include "app/fwpack/command.h"
#include "app/fwpack/installed_stub.h"
#include "tools/fwpack/authenticode/package_signing.h"
#include "tools/fwpack/builder/payload_builder.h"
#include "tools/fwpack/manifest/flag_names.h"
#include "tools/fwpack/manifest/manifest.h"

namespace fwpack {
namespace {

struct BuildArgs {
    std::string Manifest, ResourcesDir, Stub, DosStub, EfiStub, DosProgram, Output;
    bool Replace = false;
    int Level = kDefaultDeflateLevel;
    SigningRequest Sign;
    // Given without a file, --stub, --dos-stub and --efi-stub take the
    // installed updater.
    CLI::Option *StubOption = nullptr, *DosStubOption = nullptr, *EfiStubOption = nullptr;
    // The outputs that may be signed: a PE file.
    bool Signable() const { return !Stub.empty() || !EfiStub.empty(); }
};

// The installed updater for an option given without a file, said on stderr.
bool ResolveStubs(BuildArgs &a, std::string &error) {
    struct Choice { CLI::Option *Given; std::string &Path; const char *Name; };
    for (Choice c : {Choice{a.StubOption, a.Stub, "updater.exe"},
                     Choice{a.DosStubOption, a.DosStub, "dosupdater"},
                     Choice{a.EfiStubOption, a.EfiStub, "UPDATE.EFI"}}) {
        if (!c.Given || c.Given->count() == 0 || !c.Path.empty()) continue;
        if (!FindInstalledStub(c.Name, c.Path, error)) {
            error = "build: " + c.Given->get_name() + ": " + error;
            return false;
        }
        std::cerr << "fwpack: note: " << c.Given->get_name() << ": using the installed " << c.Path
                  << "\n";
    }
    return true;
}

// A Windows package from a stub with only the linker's DOS stub in front
// starts on DOS with "This program cannot be run in DOS mode".
void WarnSingleMode(const BuildArgs &a) {
    if (a.Stub.empty() || !a.DosProgram.empty() || CarriesDosProgram(a.Stub)) return;
    std::cerr << "fwpack: warning: stub " << a.Stub
              << " carries no DOS program in front of its PE headers: the package will not run "
                 "on DOS (give --dos-program DOSUPD.EXE, or a dual-mode updater.exe)\n";
}

// The one line that says which outputs do not go together, or "".
std::string OutputsProblem(const BuildArgs &a) {
    bool toFolder = !a.ResourcesDir.empty(), toPackage = !a.Output.empty();
    if (toFolder == toPackage) return "build: give either --resources-dir DIR or -o FILE";
    const int stubs = !a.Stub.empty() + !a.DosStub.empty() + !a.EfiStub.empty();
    if (toPackage && stubs != 1)
        return "build: -o needs exactly one of --stub (Windows package), --dos-stub (Linux "
               "package) and --efi-stub (UEFI package)";
    if (!toPackage && stubs != 0) return "build: --stub, --dos-stub and --efi-stub need -o FILE";
    if (a.Replace && a.Stub.empty()) return "build: --replace applies to --stub only";
    if (!a.DosProgram.empty() && a.Stub.empty()) return "build: --dos-program applies to --stub only";
    return "";
}

// Loads the manifest, plans the signature and builds the resources; notes
// go to stderr as they come.
bool BuildResources(const BuildArgs &a, ResourceSet &set, SigningPlan &signing,
                    std::string &error) {
    Manifest m;
    if (!LoadManifest(a.Manifest, m, error)) return false;
    BuildSettings settings;
    settings.Level = a.Level;
    settings.LinuxPackage = !a.DosStub.empty();
    settings.UefiPackage = !a.EfiStub.empty();
    std::string note;
    if (!PlanSigning(a.Sign, m, a.Signable(), signing, note, error)) return false;
    if (!note.empty()) std::cerr << "fwpack: note: " << note << "\n";
    if (!BuildPayload(m, settings, set, error)) return false;
    const std::string &pe = a.Stub.empty() ? a.EfiStub : a.Stub;
    if (!pe.empty() && StubCarriesSignature(pe))
        std::cerr << "fwpack: note: stub " << pe
                  << " is signed; its certificate table is dropped, as the new resources break it\n";
    return true;
}

bool WriteOutput(const BuildArgs &a, const ResourceSet &set, const SigningPlan &signing,
                 std::string &error) {
    if (!a.ResourcesDir.empty()) return WriteResourcesFolder(a.ResourcesDir, set, error);
    if (!a.Stub.empty())
        return WritePePackage(a.Stub, set, a.Output, a.Replace, error, a.DosProgram,
                              SigningStep(signing));
    if (!a.EfiStub.empty()) return WriteEfiPackage(a.EfiStub, set, a.Output, error, SigningStep(signing));
    return WriteRunPackage(a.DosStub, set, a.Output, error);
}

int RunBuild(BuildArgs &a) {
    std::string error;
    if (!ResolveStubs(a, error)) return Fail(error);
    error = OutputsProblem(a);
    if (!error.empty()) return Fail(error);
    ResourceSet set;
    SigningPlan signing;
    if (!BuildResources(a, set, signing, error) || !WriteOutput(a, set, signing, error))
        return Fail(error);
    WarnSingleMode(a);
    const bool toFolder = !a.ResourcesDir.empty();
    std::cout << "wrote " << (toFolder ? a.ResourcesDir : a.Output) << ":";
    const bool appended = !toFolder && a.Stub.empty();
    for (const auto &[id, bytes] : set) {
        if (appended && id == ToolPackage) continue;   // the DOS logic has no use for it
        std::cout << " " << id << " (" << bytes.size() << " bytes)";
    }
    std::cout << "\n";
    return kExitOk;
}

std::string BuildFooter() {
    return "Flag names for [options] flags (or give the number, e.g. flags = 0x3):\n" +
           FlagNamesHelp() +
           "\nFile times: each record takes the source file's last access and last write time; "
           "its creation time is the file's birth time where the system reports one "
           "(always on Windows, statx on Linux), else its last write time.\n"
           "Without a [dos] section resource 2000 holds an empty package (0 files). A UEFI package "
           "(--efi-stub) takes the [uefi] section's tools and programs where the other outputs "
           "take [dos]'s.\n"
           "Nothing is written unless the whole build succeeds.\n"
           "Signing: a protected key or PKCS#12 file takes its password from " +
           std::string(kSignPasswordVariable) + ", a token its PIN from " + kSignPinVariable +
           " (or the URI's pin-source). The flags win over the manifest's [signing] section "
           "(cert, key, pkcs12, pkcs11, pkcs11_module, timestamp_url). A signature without a time-stamp expires with its certificate." +
           (SigningUnavailable().empty() ? "" : "\n" + SigningUnavailable() + ".");
}

void AddSigningOptions(CLI::App &build, SigningRequest &sign) {
    build.add_option("--sign-cert", sign.Cert,
                     "sign the package: PEM certificate, the signer's first, then its chain");
    build.add_option("--sign-key", sign.Key, "the signer's PEM private key");
    build.add_option("--sign-pkcs12", sign.Pkcs12,
                     "sign with the key and certificates of a PKCS#12 file instead");
    build.add_option("--sign-pkcs11", sign.Pkcs11,
                     "sign with a private key on a PKCS#11 token, named by a pkcs11: URI "
                     "(RFC 7512); --sign-cert is a PEM file or a pkcs11: URI");
    build.add_option("--pkcs11-module", sign.Pkcs11Module,
                     "the token's PKCS#11 module (default: the system's, p11-kit's proxy on Linux)");
    build.add_option("--timestamp-url", sign.TimestampUrl,
                     "time-stamp the signature at this RFC 3161 authority (http://)");
}

}  // namespace

Subcommand AddBuild(CLI::App &app) {
    auto b = std::make_shared<BuildArgs>();
    CLI::App *build =
        app.add_subcommand("build", "Build the five payload resources from a manifest (TOML).");
    build->add_option("MANIFEST", b->Manifest, "package manifest (.toml)")->required();
    build->add_option("--resources-dir", b->ResourcesDir,
                      "write the resources as DIR/2000.bin .. DIR/2004.bin");
    build->add_option("-o,--output", b->Output,
                      "write a package file (with --stub, --dos-stub or --efi-stub)");
    b->StubOption = build->add_option("--stub", b->Stub,
                                      "Windows updater .exe to put the resources into (no file: "
                                      "the installed updater.exe)")
                        ->expected(0, 1);
    b->DosStubOption = build->add_option("--dos-stub", b->DosStub,
                                         "DOS updater program to append the resources to (no "
                                         "file: the installed dosupdater)")
                           ->expected(0, 1);
    b->EfiStubOption = build->add_option("--efi-stub", b->EfiStub,
                                         "UEFI updater (x86_64 EFI application) to append the "
                                         "resources to, with the [uefi] tools (no file: the "
                                         "installed UPDATE.EFI)")
                           ->expected(0, 1);
    build->add_flag("--replace", b->Replace, "replace SETUP resources the stub already holds");
    build->add_option("--dos-program", b->DosProgram,
                      "with --stub: a real-mode DOS program (MZ file) to put in front of the "
                      "package's PE headers, making the package dual-mode");
    build->add_option("--level", b->Level, "deflate level 0..9 (default 6)")
        ->check(CLI::Range(0, 9));
    AddSigningOptions(*build, b->Sign);
    build->footer(BuildFooter());
    return {build, [b] { return RunBuild(*b); }};
}

}  // namespace fwpack
