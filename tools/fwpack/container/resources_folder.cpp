// A resources folder: one file per resource, named by its id (2000.bin ..
// 2004.bin), holding exactly the bytes a reader of the resource would get.
#include <filesystem>
#include <system_error>

#include "tools/fwpack/manifest/utf8_path.h"
#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "payload/tagged_resource.h"

namespace fwpack {

namespace fs = std::filesystem;

static std::string ResourceFileName(uint16_t id) { return std::to_string(id) + ".bin"; }

bool ReadResourcesFolder(const std::string &dir, ResourceSet &out, std::string &error) {
    out.clear();
    std::error_code ec;
    if (!fs::is_directory(Utf8Path(dir), ec)) {
        error = dir + " is not a folder";
        return false;
    }
    for (uint16_t id = kFirstResourceId; id <= kLastResourceId; ++id) {
        fs::path file = Utf8Path(dir) / ResourceFileName(id);
        if (!fs::exists(file, ec)) continue;  // a missing resource is a finding, not a failure
        if (!ReadWholeFile(Utf8String(file), out[id], error)) return false;
    }
    if (out.empty()) {
        error = dir + " holds none of the resource files 2000.bin .. 2004.bin";
        return false;
    }
    return true;
}

bool WriteResourcesFolder(const std::string &dir, const ResourceSet &set, std::string &error) {
    std::error_code ec;
    fs::create_directories(Utf8Path(dir), ec);
    if (ec || !fs::is_directory(Utf8Path(dir), ec)) {
        error = "cannot create the folder " + dir;
        return false;
    }
    AtomicFileSet files;
    for (const auto &[id, bytes] : set)
        if (!files.Stage(Utf8String(Utf8Path(dir) / ResourceFileName(id)), bytes, error))
            return false;
    return files.Commit(error);
}

}  // namespace fwpack
