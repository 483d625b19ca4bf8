#include "app/fwpack/command.h"

#include <iostream>


namespace fwpack {

int Fail(const std::string &line) {
    std::cerr << "fwpack: " << line << "\n";
    return kExitBadInput;
}

bool Load(const std::string &path, PayloadReport &report, ContainerKind &kind,
          std::vector<uint8_t> &file) {
    ResourceSet set;
    std::string error;
    if (!ReadContainer(path, set, kind, error, &file)) {
        Fail(error);
        return false;
    }
    report = AnalyzePayload(std::move(set), kind);
    return true;
}

void AddPackagePath(CLI::App &command, std::string &path) {
    command.add_option("PATH", path, "resources folder, package .exe, Linux package or UEFI package")->required();
}

}  // namespace fwpack
