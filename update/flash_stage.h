// The flash stages: image out of the resources, checksum, flash program,
// verdict from the result values.
#pragma once
#include <cstdint>
#include <string_view>

#include "update/worker_context.h"
#include "update/worker_run_state.h"

namespace fwpack {

enum class FlashStage { Bios, Me };

inline constexpr const char *kResultKey = "Software\\RIVIREVOV";

// How a stage ended: Completed when the flash program was started and has
// ended (its two result fields are written); Failed after the stage has
// shown its error box (the worker then rolls back); Aborted, without a box,
// when a cancel had come by the moment the program was to start, so that
// nothing was started (the worker then cleans up).
enum class StageEnd { Completed, Failed, Aborted };

StageEnd RunFlashStage(WorkerContext &context, WorkerRunState &state, FlashStage stage);

// The checksum rule over the whole content of a file; 0 when it cannot be
// opened or is empty.
uint16_t Checksum16(FileSystem &files, std::string_view path);

// The 4-byte value under the current user's subkey, or -1.
int32_t ReadResultValue(ResultValues &results, std::string_view subkey,
                        std::string_view value);

}  // namespace fwpack
