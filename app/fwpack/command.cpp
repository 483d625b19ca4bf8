#include "app/fwpack/command.h"

#include <iostream>

#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/read.h"

namespace fwpack {

int Fail(const std::string &line) {
    std::cerr << "fwpack: " << line << "\n";
    return kExitBadInput;
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

void AddPackagePath(CLI::App &command, std::string &path) {
    command.add_option("PATH", path, "resources folder, package .exe or Linux package")->required();
}

}  // namespace fwpack
