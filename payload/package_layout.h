// The FilePackage layout: u32 count, count 300-byte FileRecords, then the
// bytes of every file in record order. Freestanding: plain values only.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

inline constexpr size_t kPackageHeaderSize = 4;
inline constexpr size_t kFileRecordSize = 300;
inline constexpr size_t kFileNameSize = 260;

// Byte offsets inside a 300-byte record.
namespace record_offset {
inline constexpr size_t Index = 0, Checksum = 4, CreationTime = 8, LastAccessTime = 16,
                        LastWriteTime = 24, Reserved = 32, Size = 36, FileName = 40;
}

}  // namespace fwpack
