// What the DOS updater's fixed buffers hold. Freestanding: plain values.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// The one buffer for copying, checksumming and the searches of its own
// file and of the ME image.
inline constexpr size_t kDosTransferSize = 51200;
// Each package's record table has room for five records.
inline constexpr uint32_t kDosRecordTableRoom = 5;
// Image names go through a 20-byte path buffer: 19 characters and the NUL.
inline constexpr size_t kDosImageNameRoom = 20;
inline constexpr size_t kDosImageNameMax = kDosImageNameRoom - 1;
// The scan of its own file for the tags stops this many bytes before the end.
inline constexpr size_t kDosScanMargin = 20;

}  // namespace fwpack
