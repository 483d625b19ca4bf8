// Damaged packages through the extract path, as `fwpack extract` takes it:
// the input is read as a Linux package (tagged resources anywhere in the
// bytes) or, when it starts with "MZ", as a package .exe; what reads is
// analysed and unpacked into a scratch folder. Every file written must lie
// inside that folder, and the folder is emptied after each input.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/fwpack/container/container.h"
#include "tools/fwpack/inspect/extract.h"
#include "tools/fwpack/inspect/payload_report.h"

namespace fs = std::filesystem;
using namespace fwpack;

namespace {

const fs::path &Scratch() {
    static const fs::path dir = [] {
        const char *shm = "/dev/shm";
        fs::path base = fs::is_directory(shm) ? fs::path(shm) : fs::temp_directory_path();
        std::string tmpl = (base / "fwpack-fuzz-extract-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        return fs::path(tmpl);
    }();
    return dir;
}

bool Inside(const fs::path &path, const fs::path &dir) {
    std::string p = path.lexically_normal().string(), d = dir.lexically_normal().string() + "/";
    return p.compare(0, d.size(), d) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    ResourceSet set;
    std::string error;
    ContainerKind kind = ContainerKind::LinuxPackage;
    if (LooksLikePe(file)) {
        kind = ContainerKind::WindowsPackage;
        if (!ReadPeResources(file, set, error)) return 0;
    } else if (!ReadRunPackage(file, set, error)) {
        return 0;
    }
    const fs::path target = Scratch() / "out";
    PayloadReport report = AnalyzePayload(set, kind);
    std::vector<std::string> written;
    ExtractPayload(report, target.string(), written, error);
    for (const std::string &path : written)
        if (!Inside(path, target)) {
            std::fprintf(stderr, "extract wrote outside its folder: %s\n", path.c_str());
            std::abort();
        }
    for (const fs::directory_entry &e : fs::directory_iterator(Scratch()))
        if (e.path() != target) {
            std::fprintf(stderr, "extract left %s beside its folder\n", e.path().c_str());
            std::abort();
        }
    std::error_code ec;
    fs::remove_all(target, ec);
    return 0;
}
