// Placeholder until the PE resource writer lands: refuses every request.
#include "container.h"

namespace fwpack {

bool LooksLikePe(const std::vector<uint8_t> &file) {
    return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z';
}
bool ReadPeResources(const std::vector<uint8_t> &, ResourceSet &, std::string &error) {
    error = "reading package .exe files is not supported by this build";
    return false;
}
bool WritePePackage(const std::string &, const ResourceSet &, const std::string &, bool,
                    std::string &error) {
    error = "writing package .exe files is not supported by this build";
    return false;
}

}  // namespace fwpack
