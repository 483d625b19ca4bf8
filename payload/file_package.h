// FilePackage: u32 count, count 300-byte FileRecords, then the bytes of
// every file in record order with nothing between them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "payload/package_layout.h"
#include "payload/package_rules.h"

namespace fwpack {

struct FileRecord {
    uint32_t Index = 0;
    uint32_t Checksum = 0;        // Checksum16 in the low 16 bits
    uint64_t CreationTime = 0;    // FILETIMEs: 100 ns units since 1601-01-01 UTC
    uint64_t LastAccessTime = 0;
    uint64_t LastWriteTime = 0;
    uint32_t Reserved = 0;
    uint32_t Size = 0;
    std::string FileName;
};

// Writes one record; the name must be shorter than 260 bytes.
void WriteFileRecord(const FileRecord &in, uint8_t *record);

// IsBareName of a string.
bool IsBareFileName(std::string_view name);


// Reads the 300-byte record at offset of size bytes. TableOverflow (out
// untouched) when the record runs past the end; NameNotTerminated when
// FileName has no NUL within its 260 bytes (out.FileName then holds all 260).
PackageError ReadFileRecord(const uint8_t *bytes, size_t size, size_t offset, FileRecord &out);

struct FilePackageView {
    uint32_t Count = 0;
    std::vector<FileRecord> Records;
    std::vector<size_t> Offsets;   // where each file's bytes start
    const uint8_t *Data = nullptr;
    size_t Size = 0;
};

struct PackageCheck {
    bool RequireBareNames = true;   // readers used for extraction: yes
    bool AllowTrailingBytes = false;
};

// Parses and checks a whole package; never reads outside [data, data+size).
// On failure out.Records holds the records read before the fault and
// *badRecord (when given) the index of the offending record, or -1.
PackageError ParseFilePackage(const uint8_t *data, size_t size, FilePackageView &out,
                              PackageCheck check = {}, long *badRecord = nullptr);

// One file for BuildFilePackage: the record fields other than Index, Size
// and Checksum are taken as given; those three are filled in.
struct PackageFile {
    FileRecord Record;
    std::vector<uint8_t> Bytes;
};
std::vector<uint8_t> BuildFilePackage(const std::vector<PackageFile> &files);

}  // namespace fwpack
