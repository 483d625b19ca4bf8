// The start-up step that gives the program its copy of the option block.
#pragma once
#include <cstdint>

#include "payload/option_block.h"
#include "platform/resources.h"

namespace fwpack {

// Fills copy from resource 2003 and returns its Flags. A missing resource,
// or one no longer than its 16-byte header, returns 0 and leaves the copy
// untouched. The tag and BodyLength are not examined; a short body fills
// what it has and leaves the rest zero.
uint32_t LoadOptionBlock(const ResourceSource &resources, ProgramOptionCopy &copy);

}  // namespace fwpack
