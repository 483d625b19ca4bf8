#include "payload/file_package.h"

#include <cstring>

#include "payload/bytes.h"
#include "payload/checksum16.h"

namespace fwpack {

PackageError ReadFileRecord(const uint8_t *bytes, size_t size, size_t offset, FileRecord &out) {
    using namespace record_offset;
    if (bytes == nullptr || !FitsInside(size, offset, kFileRecordSize))
        return PackageError::TableOverflow;
    const uint8_t *r = bytes + offset;
    FileRecord rec;
    ReadU32(r, kFileRecordSize, Index, rec.Index);
    ReadU32(r, kFileRecordSize, Checksum, rec.Checksum);
    ReadU64(r, kFileRecordSize, CreationTime, rec.CreationTime);
    ReadU64(r, kFileRecordSize, LastAccessTime, rec.LastAccessTime);
    ReadU64(r, kFileRecordSize, LastWriteTime, rec.LastWriteTime);
    ReadU32(r, kFileRecordSize, Reserved, rec.Reserved);
    ReadU32(r, kFileRecordSize, Size, rec.Size);
    FieldSpan name;
    ReadField(r, kFileRecordSize, FileName, kFileNameSize, name);
    rec.FileName.assign(reinterpret_cast<const char *>(r + FileName), name.Length);
    out = std::move(rec);
    return name.Terminated ? PackageError::None : PackageError::NameNotTerminated;
}

void WriteFileRecord(const FileRecord &in, uint8_t *r) {
    using namespace record_offset;
    std::memset(r, 0, kFileRecordSize);
    PutU32(r + Index, in.Index);
    PutU32(r + Checksum, in.Checksum);
    PutU64(r + CreationTime, in.CreationTime);
    PutU64(r + LastAccessTime, in.LastAccessTime);
    PutU64(r + LastWriteTime, in.LastWriteTime);
    PutU32(r + Reserved, in.Reserved);
    PutU32(r + Size, in.Size);
    const size_t n = in.FileName.size() < kFileNameSize ? in.FileName.size() : kFileNameSize - 1;
    std::memcpy(r + FileName, in.FileName.data(), n);
}

bool IsBareFileName(std::string_view name) { return IsBareName(name.data(), name.size()); }

PackageError ParseFilePackage(const uint8_t *data, size_t size, FilePackageView &out,
                              PackageCheck check, long *badRecord) {
    out = FilePackageView{};
    out.Data = data;
    out.Size = size;
    if (badRecord) *badRecord = -1;
    if (data == nullptr || size < kPackageHeaderSize) return PackageError::TooShort;
    ReadU32(data, size, 0, out.Count);
    // count x 300 in 64 bits cannot overflow (count < 2^32), and is compared
    // with the real size before anything is read.
    const uint64_t tableEnd = kPackageHeaderSize + uint64_t(out.Count) * kFileRecordSize;
    if (tableEnd > size) return PackageError::TableOverflow;

    uint64_t cursor = tableEnd;
    out.Records.reserve(out.Count);
    out.Offsets.reserve(out.Count);
    for (uint32_t i = 0; i < out.Count; ++i) {
        FileRecord rec;
        const PackageError read =
            ReadFileRecord(data, size, kPackageHeaderSize + size_t(i) * kFileRecordSize, rec);
        auto fail = [&](PackageError e) {
            if (badRecord) *badRecord = long(i);
            return e;
        };
        if (read != PackageError::None) return fail(read);
        if (check.RequireBareNames && !IsBareFileName(rec.FileName)) return fail(PackageError::NameNotBare);
        if (cursor + rec.Size > size) return fail(PackageError::SizePastEnd);
        out.Offsets.push_back(size_t(cursor));
        cursor += rec.Size;
        out.Records.push_back(std::move(rec));
    }
    if (cursor != size && !check.AllowTrailingBytes) return PackageError::TrailingBytes;
    return PackageError::None;
}

std::vector<uint8_t> BuildFilePackage(const std::vector<PackageFile> &files) {
    size_t total = kPackageHeaderSize + files.size() * kFileRecordSize;
    for (const auto &f : files) total += f.Bytes.size();
    std::vector<uint8_t> out(total);
    PutU32(out.data(), uint32_t(files.size()));
    size_t cursor = kPackageHeaderSize + files.size() * kFileRecordSize;
    for (size_t i = 0; i < files.size(); ++i) {
        FileRecord rec = files[i].Record;
        rec.Index = uint32_t(i);
        rec.Size = uint32_t(files[i].Bytes.size());
        rec.Checksum = Checksum16(files[i].Bytes.data(), files[i].Bytes.size());
        WriteFileRecord(rec, out.data() + kPackageHeaderSize + i * kFileRecordSize);
        if (!files[i].Bytes.empty()) std::memcpy(out.data() + cursor, files[i].Bytes.data(), files[i].Bytes.size());
        cursor += files[i].Bytes.size();
    }
    return out;
}

}  // namespace fwpack
