// ExtractImage with its failure kept apart from a checksum of 0.
#pragma once
#include <optional>

#include "update/flash_stage.h"

namespace fwpack {

// The record's Checksum field, or nullopt after a failure (target deleted).
std::optional<uint32_t> ExtractImageChecked(WorkerContext &context, uint16_t resource,
                                            std::string_view target);

}  // namespace fwpack
