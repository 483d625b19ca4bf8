// fwpack extract: every package of a payload unpacked into a folder, with
// the stored file times.
#include <iostream>
#include <memory>

#include "app/fwpack/command.h"
#include "tools/fwpack/inspect/extract.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace fwpack {
namespace {

struct ExtractArgs {
    std::string Path, Dir;
};

int RunExtract(const ExtractArgs &a) {
    PayloadReport report;
    ContainerKind kind;
    std::vector<uint8_t> file;
    if (!Load(a.Path, report, kind, file)) return kExitBadInput;
    std::vector<std::string> written;
    std::string error;
    if (!ExtractPayload(report, a.Dir, written, error)) return Fail(error);
    for (const auto &w : written) std::cout << Printable(w) << "\n";
    return kExitOk;
}

}  // namespace

Subcommand AddExtract(CLI::App &app) {
    auto a = std::make_shared<ExtractArgs>();
    CLI::App *extract = app.add_subcommand(
        "extract", "Unpack every package into DIR/<package name>/ with the stored file times.");
    AddPackagePath(*extract, a->Path);
    extract->add_option("DIR", a->Dir, "folder to unpack into")->required();
    return {extract, [a] { return RunExtract(*a); }};
}

}  // namespace fwpack
