// Placeholder until the Linux package writer lands: refuses every request.
#include "container.h"

namespace fwpack {

bool LooksLikeRunPackage(const std::vector<uint8_t> &) { return false; }
bool ReadRunPackage(const std::vector<uint8_t> &, ResourceSet &, std::string &error) {
    error = "reading Linux packages is not supported by this build";
    return false;
}
bool WriteRunPackage(const std::string &, const ResourceSet &, const std::string &,
                     std::string &error) {
    error = "writing Linux packages is not supported by this build";
    return false;
}

}  // namespace fwpack
