// What the DOS updater's fixed buffers hold. Freestanding: plain values.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/dos_names.h"
#include "payload/option_layout.h"

namespace fwpack {

// The transfer buffer, through which files are copied: memory the platform
// sets aside outside the program's data (on DOS beyond its data segment).
inline constexpr size_t kDosTransferSize = 51200;
// The work buffer in the program's own data, for what the logic reads
// itself: the decompressor's state, window and pieces, the checksums, the
// option block and record tables, and the searches of its own file, of the
// firmware and of the ME image. The decompressor needs 12 KiB of it; the
// rest makes its input and output pieces larger.
inline constexpr size_t kDosWorkSize = 16384;
// Each package's record table has room for five records.
inline constexpr uint32_t kDosRecordTableRoom = 5;
// The names of all the files the packages unpack, each with its NUL: the
// updater takes only 8.3 names, so fifteen of the longest fit.
inline constexpr size_t kDosFileNamesRoom = 3 * kDosRecordTableRoom * kDosFiledNameRoom;
// Image names go through a 20-byte path buffer: 19 characters and the NUL.
inline constexpr size_t kDosImageNameRoom = 20;
inline constexpr size_t kDosImageNameMax = kDosImageNameRoom - 1;
// The scan of its own file for the tags stops this many bytes before the end.
inline constexpr size_t kDosScanMargin = 20;
// A command line that is run fits a 260-byte option field with its NUL.
inline constexpr size_t kDosCommandRoom = kNameFieldSize;
// Where command lines are built: room for the longest line two option
// fields and the switches make, so that an overlong one is shown whole
// when it is refused.
inline constexpr size_t kDosCommandTextRoom = 2 * kNameFieldSize + 64;

}  // namespace fwpack
