#include "dos/package_records.h"

#include <cstring>

#include "payload/bytes.h"

namespace fwpack {

PackageError ReadDosFileRecord(const uint8_t *bytes, size_t size, size_t offset, DosFileRecord &out) {
    if (bytes == nullptr || !FitsInside(size, offset, kFileRecordSize)) return PackageError::TableOverflow;
    const uint8_t *r = bytes + offset;
    ReadU32(r, kFileRecordSize, record_offset::Checksum, out.Checksum);
    ReadU32(r, kFileRecordSize, record_offset::Size, out.Size);
    FieldSpan name;
    ReadField(r, kFileRecordSize, record_offset::FileName, kFileNameSize, name);
    std::memcpy(out.FileName, r + record_offset::FileName, name.Length);
    out.FileName[name.Length] = '\0';
    return name.Terminated ? PackageError::None : PackageError::NameNotTerminated;
}

}  // namespace fwpack
