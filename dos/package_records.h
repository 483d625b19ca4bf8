// The DOS updater's reader of a FilePackage's records: only what the run
// keeps of each (its checksum, size and name), in fixed rooms, over the
// package layout's own offsets. Freestanding.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/package_layout.h"
#include "payload/package_rules.h"

namespace fwpack {

struct DosFileRecord {
    uint32_t Checksum = 0;   // Checksum16 in the low 16 bits
    uint32_t Size = 0;
    char FileName[kFileNameSize + 1] = {};   // always NUL-terminated
};

// Reads the 300-byte record at offset of size bytes. TableOverflow (out
// untouched) when the record runs past the end; NameNotTerminated when the
// name has no NUL within its 260 bytes (FileName then holds all 260).
PackageError ReadDosFileRecord(const uint8_t *bytes, size_t size, size_t offset, DosFileRecord &out);

}  // namespace fwpack
