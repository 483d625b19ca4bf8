// Damaged executables into the package .exe reader and writer. Input that
// starts with "MZ" is taken as a whole file; any other input is a list of
// 3-byte patches (offset low, offset high, value) applied to one of the
// real fixture stubs, which reaches the resource tree far more often than
// random files do. A package the writer accepts must read back exactly.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/container/pe_package.h"

using namespace fwpack;

namespace {

std::vector<uint8_t> Stub(const char *name) {
    std::vector<uint8_t> bytes;
    std::string error;
    // The fixtures sit beside this file's folder: tests/fixtures/pe.
    auto dir = std::filesystem::path(__FILE__).parent_path().parent_path() / "fixtures" / "pe";
    ReadWholeFile((dir / name).string(), bytes, error);
    return bytes;
}

const std::vector<uint8_t> &Stubs(size_t which) {
    static const std::vector<uint8_t> stubs[] = {Stub("stub_last.exe"), Stub("stub_reloc.exe"),
                                                 Stub("stub_nores.exe")};
    return stubs[which % 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> file;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        file.assign(data, data + size);
    } else if (size >= 1) {
        file = Stubs(data[0]);
        if (file.empty()) return 0;
        for (size_t i = 1; i + 3 <= size; i += 3) {
            size_t at = (data[i] | size_t(data[i + 1]) << 8) % file.size();
            file[at] = data[i + 2];
        }
    }

    ResourceSet read;
    std::string error;
    ReadPeResources(file, read, error);

    ResourceSet set = {{2000, {1, 2, 3}}, {2001, std::vector<uint8_t>(77, 9)}, {2003, {}}};
    std::vector<uint8_t> package;
    if (BuildPePackage(file, set, /*replace=*/true, package, error) != PeBuildError::None) return 0;
    ResourceSet back;
    if (!ReadPeResources(package, back, error) || back != set) {
        std::fprintf(stderr, "package does not read back: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
