// fwpack: builds firmware-update packages from a manifest, and inspects,
// verifies and extracts the resources of a built package.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "container.h"
#include "extract.h"
#include "flag_names.h"
#include "inspect_format.h"
#include "manifest.h"
#include "payload/tagged_resource.h"
#include "payload_builder.h"
#include "payload_check.h"
#include "payload_report.h"
#include "platform/program_text.h"

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
    ResourceSet set;
    if (!BuildPayload(m, settings, set, error)) return Fail(error);

    bool ok = toFolder          ? WriteResourcesFolder(a.ResourcesDir, set, error)
              : !a.Stub.empty() ? WritePePackage(a.Stub, set, a.Output, a.Replace, error, a.DosProgram)
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
    report = AnalyzePayload(set, kind);
    return true;
}

int RunInspect(const std::string &path, bool json) {
    PayloadReport report;
    ContainerKind kind;
    if (!Load(path, report, kind)) return kExitBadInput;
    std::cout << (json ? InspectJson(report, path, kind) : InspectText(report, path, kind));
    std::string dos, error;
    if (!json && kind == ContainerKind::WindowsPackage && DescribeDosProgram(path, dos, error))
        std::cout << dos << "\n";
    return kExitOk;
}

int RunVerify(const std::string &path) {
    PayloadReport report;
    ContainerKind kind;
    if (!Load(path, report, kind)) return kExitBadInput;
    std::vector<std::string> problems = PayloadProblems(report);
    std::string dos, error;
    if (kind == ContainerKind::WindowsPackage && !DescribeDosProgram(path, dos, error))
        problems.push_back("DOS program: " + error);
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
    for (const auto &w : written) std::cout << w << "\n";
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
    build->footer(
        "Flag names for [options] flags (or give the number, e.g. flags = 0x3):\n" +
        FlagNamesHelp() +
        "\nFile times: each record takes the source file's last access and last write time; "
        "its creation time is the file's birth time where the filesystem reports one "
        "(statx), else its last write time.\n"
        "Without a [dos] section resource 2000 holds an empty package (0 files).\n"
        "Nothing is written unless the whole build succeeds.");

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

    CLI::App *extract = app.add_subcommand(
        "extract", "Unpack every package into DIR/<package name>/ with the stored file times.");
    extract->add_option("PATH", path, "resources folder, package .exe or Linux package")
        ->required();
    extract->add_option("DIR", dir, "folder to unpack into")->required();

    try {
        app.parse(int(argp.size()), argp.data());
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitBadInput;
    }
    if (build->parsed()) return RunBuild(b);
    if (inspect->parsed()) return RunInspect(path, json);
    if (verify->parsed()) return RunVerify(path);
    if (extract->parsed()) return RunExtract(path, dir);
    return kExitBadInput;
}
