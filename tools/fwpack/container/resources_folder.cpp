// A resources folder: one file per resource, named by its id (2000.bin ..
// 2004.bin), holding exactly the bytes a reader of the resource would get.
#include <filesystem>
#include <system_error>
#include <vector>

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

namespace {

// The folders of path that do not exist yet, deepest first: what a build
// that fails removes again.
std::vector<fs::path> MissingFolders(const fs::path &path) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = NormalPath(path); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    return missing;
}

}  // namespace

bool WriteResourcesFolder(const std::string &dir, const ResourceSet &set, std::string &error) {
    const std::vector<fs::path> made = MissingFolders(Utf8Path(dir));
    std::error_code ec;
    fs::create_directories(Utf8Path(dir), ec);
    bool ok = !ec && fs::is_directory(Utf8Path(dir), ec);
    if (!ok) error = "cannot create the folder " + dir;
    {
        AtomicFileSet files;
        for (auto it = set.begin(); ok && it != set.end(); ++it)
            ok = files.Stage(Utf8String(Utf8Path(dir) / ResourceFileName(it->first)), it->second, error);
        ok = ok && files.Commit(error);
    }
    // Only empty folders go: what this build made and nothing else wrote.
    if (!ok)
        for (const fs::path &folder : made) fs::remove(folder, ec);
    return ok;
}

}  // namespace fwpack
