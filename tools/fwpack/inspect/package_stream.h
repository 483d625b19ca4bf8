// A FilePackage read as it streams past, from an inflater or a plain body,
// in memory that does not grow with the package: the count, the records,
// each file's Checksum16 and the package's fault, decided the way a reader
// of the whole package decides them.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "payload/file_package.h"

namespace fwpack {

// More records than this are counted but not read: no real package comes
// near it, and a forged count must not make the reader's memory grow.
inline constexpr uint32_t kMaxReadRecords = 65536;

// Receives the bytes of record `record`'s file, in order, in pieces.
using FileBytesSink = std::function<bool(size_t record, const uint8_t *data, size_t size)>;

class PackageStream {
  public:
    explicit PackageStream(FileBytesSink sink = {}) : sink_(std::move(sink)) {}
    // The next bytes of the package; false when the sink refused them.
    bool Feed(const uint8_t *data, size_t size);
    // After the last byte: decides Error, BadRecord and which records stand.
    void Finish();

    uint64_t Size = 0;              // bytes fed
    uint32_t Count = 0;             // as stored (when Size >= 4)
    bool TooManyRecords = false;    // Count > kMaxReadRecords: no record was read
    PackageError Error = PackageError::None;
    long BadRecord = -1;
    std::vector<FileRecord> Records;
    std::vector<uint64_t> Offsets;  // where each record's file starts
    std::vector<uint16_t> Computed; // Checksum16 of the bytes of each file seen

  private:
    // Collects bytes into buffer_ until it holds want of them (then true).
    bool Fill(const uint8_t *&data, size_t &size, size_t want);
    void TakeHeader(const uint8_t *&data, size_t &size);
    void TakeTable(const uint8_t *&data, size_t &size);
    bool TakeFiles(const uint8_t *data, size_t size);
    uint64_t TableEnd() const { return kPackageHeaderSize + uint64_t(Count) * kFileRecordSize; }

    FileBytesSink sink_;
    uint8_t buffer_[kFileRecordSize] = {};
    size_t buffered_ = 0;
    uint32_t tableRead_ = 0;        // records taken from the table
    long nameFault_ = -1;           // first record whose name has no NUL
    uint64_t cursor_ = 0;           // end of the last stored record's file
    std::vector<uint32_t> sums_;
    size_t file_ = 0;               // the record the next file byte belongs to
};

}  // namespace fwpack
