// What the DOS updater's fixed buffers hold. Freestanding: plain values.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// Each package's record table has room for five records.
inline constexpr uint32_t kDosRecordTableRoom = 5;
// Image names go through a 20-byte path buffer: 19 characters and the NUL.
inline constexpr size_t kDosImageNameRoom = 20;
inline constexpr size_t kDosImageNameMax = kDosImageNameRoom - 1;
// The scan of its own file for the tags stops this many bytes before the end.
inline constexpr size_t kDosScanMargin = 20;

}  // namespace fwpack
