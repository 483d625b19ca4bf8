#include "tools/fwpack/container/container.h"

#include <filesystem>
#include <system_error>

#include "platform/builder_files.h"
#include "tools/fwpack/manifest/utf8_path.h"

namespace fwpack {

const char *ContainerKindName(ContainerKind kind) {
    switch (kind) {
        case ContainerKind::ResourcesFolder: return "resources folder";
        case ContainerKind::WindowsPackage: return "Windows package";
        case ContainerKind::LinuxPackage: return "Linux package";
        case ContainerKind::UefiPackage: return "UEFI package";
    }
    return "?";
}

bool ReadContainer(const std::string &path, ResourceSet &out, ContainerKind &kind,
                   std::string &error, std::vector<uint8_t> *kept) {
    out.clear();
    std::error_code ec;
    if (std::filesystem::is_directory(Utf8Path(path), ec)) {
        kind = ContainerKind::ResourcesFolder;
        return ReadResourcesFolder(path, out, error);
    }
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file, error)) return false;
    bool read = false;
    if (LooksLikeEfiPackage(file)) {
        kind = ContainerKind::UefiPackage;
        read = ReadEfiPackage(file, out, error);
    } else if (LooksLikePe(file)) {
        kind = ContainerKind::WindowsPackage;
        read = ReadPeResources(file, out, error);
    } else if (LooksLikeRunPackage(file)) {
        kind = ContainerKind::LinuxPackage;
        read = ReadRunPackage(file, out, error);
    } else {
        error = path + " is neither a resources folder, a Windows package, a Linux package nor a UEFI package";
        return false;
    }
    if (read && kept) *kept = std::move(file);
    return read;
}

}  // namespace fwpack
