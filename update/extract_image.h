// ExtractImage: one image package out of the program's resources into a
// file, with the checksum its record stores.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "update/worker_context.h"

namespace fwpack {

// Writes the image held in package resource (BiosPackage or MePackage) to
// target and returns the Checksum field of its FileRecord; nullopt after any
// failure (target deleted), so that a failure stays apart from a checksum
// of 0.
std::optional<uint32_t> ExtractImage(WorkerContext &context, uint16_t resource,
                                     std::string_view target);

}  // namespace fwpack
