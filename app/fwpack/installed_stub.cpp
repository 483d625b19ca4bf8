#include "app/fwpack/installed_stub.h"

#include <filesystem>
#include <system_error>

#include "fwpack_config.h"
#include "platform/program_path.h"
#include "tools/fwpack/manifest/utf8_path.h"

namespace fwpack {

// An installed fwpack finds the updaters in the install's data folder; the
// Windows zip keeps them beside fwpack.exe.
bool FindInstalledStub(const std::string &name, std::string &path, std::string &error) {
    const std::string self = ProgramFilePath();
    if (self.empty()) {
        error = "cannot tell where this fwpack is installed; give the " + name + " to use";
        return false;
    }
    const std::filesystem::path bin = Utf8Path(self).parent_path();
    const std::filesystem::path places[] = {
        NormalPath(bin / Utf8Path(kInstalledDataFromBin) / Utf8Path(name)),
        bin / Utf8Path(name)};
    for (const std::filesystem::path &place : places) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(place, ec)) {
            path = Utf8String(place);
            return true;
        }
    }
    error = "no installed " + name + " at " + Utf8String(places[0]) + " or " +
            Utf8String(places[1]) + "; give its path";
    return false;
}

}  // namespace fwpack
