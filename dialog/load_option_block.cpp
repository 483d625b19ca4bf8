#include "dialog/load_option_block.h"

#include <algorithm>
#include <cstring>

#include "payload/tagged_resource.h"

namespace fwpack {

uint32_t LoadOptionBlock(const ResourceSource &resources, ProgramOptionCopy &copy) {
    const auto res = resources.SetupResource(OptionResource);
    if (res.size() <= kTaggedHeaderSize) return 0;
    // A short body fills what it has; the rest of the copy stays zero, so
    // every name still ends inside its field.
    const size_t n = std::min(res.size() - kTaggedHeaderSize, kProgramOptionSize);
    copy.Bytes.fill(0);
    std::memcpy(copy.Bytes.data(), res.data() + kTaggedHeaderSize, n);
    return copy.Flags();
}

}  // namespace fwpack
