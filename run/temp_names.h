// Names under the temp root: the unique number for the temp-name service,
// the per-run folders made with it, and the two scratch file names.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/files.h"

namespace fwpack {

// tick x 12345 in wrapping signed 32-bit arithmetic, divided by 5987 with
// truncation toward zero (the service uses only the low 16 bits).
uint32_t UniqueTempNumber(uint32_t tick);

// A fresh folder name under root: the temp-name service on root with prefix
// and UniqueTempNumber(tick), plus the separator. Empty when the service
// fails or its answer is not a name strictly inside root, so that a caller
// never deletes root (or anything but the new name) as a tree.
std::string TempFolderName(FileSystem &files, Clock &clock, std::string_view root,
                           std::string_view prefix);

// "%s%08X" of root and tick.
std::string ScratchNameA(std::string_view root, uint32_t tick);
// "%s%08X" of root and (tick x 12345 mod 2^32) / 8725, unsigned.
std::string ScratchNameB(std::string_view root, uint32_t tick);

}  // namespace fwpack
