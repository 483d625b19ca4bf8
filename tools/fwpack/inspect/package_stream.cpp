#include "tools/fwpack/inspect/package_stream.h"

#include <algorithm>
#include <cstring>

#include "payload/bytes.h"
#include "payload/checksum16.h"

namespace fwpack {

bool PackageStream::Feed(const uint8_t *data, size_t size) {
    Size += size;
    if (Size - size < kPackageHeaderSize) TakeHeader(data, size);
    if (Size < kPackageHeaderSize || TooManyRecords) return true;
    if (tableRead_ < Count) TakeTable(data, size);
    return TakeFiles(data, size);
}

bool PackageStream::Fill(const uint8_t *&data, size_t &size, size_t want) {
    size_t n = std::min(size, want - buffered_);
    std::memcpy(buffer_ + buffered_, data, n);
    buffered_ += n;
    data += n;
    size -= n;
    if (buffered_ < want) return false;
    buffered_ = 0;
    return true;
}

void PackageStream::TakeHeader(const uint8_t *&data, size_t &size) {
    if (!Fill(data, size, kPackageHeaderSize)) return;
    ReadU32(buffer_, kPackageHeaderSize, 0, Count);
    TooManyRecords = Count > kMaxReadRecords;
    cursor_ = TableEnd();
}

void PackageStream::TakeTable(const uint8_t *&data, size_t &size) {
    while (size && tableRead_ < Count) {
        if (!Fill(data, size, kFileRecordSize)) return;
        FileRecord rec;
        bool terminated =
            ReadFileRecord(buffer_, kFileRecordSize, 0, rec) != PackageError::NameNotTerminated;
        if (nameFault_ < 0 && !terminated) nameFault_ = long(tableRead_);
        if (nameFault_ < 0) {
            // Records after a broken one do not count: a reader stops there.
            Offsets.push_back(cursor_);
            cursor_ += rec.Size;
            Records.push_back(std::move(rec));
        }
        ++tableRead_;
    }
    if (tableRead_ == Count) sums_.assign(Records.size(), 0);
}

bool PackageStream::TakeFiles(const uint8_t *data, size_t size) {
    uint64_t at = Size - size;   // package offset of data[0]
    while (size) {
        while (file_ < Records.size() && at >= Offsets[file_] + Records[file_].Size) ++file_;
        if (file_ == Records.size()) return true;   // past the last file: trailing bytes
        size_t n = size_t(std::min<uint64_t>(size, Offsets[file_] + Records[file_].Size - at));
        sums_[file_] = Checksum16Add(sums_[file_], data, n);
        if (sink_ && !sink_(file_, data, n)) return false;
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

void PackageStream::Finish() {
    Computed.assign(sums_.begin(), sums_.end());
    Computed.resize(Records.size());
    if (Size < kPackageHeaderSize) {
        Error = PackageError::TooShort;
    } else if (TableEnd() > Size) {
        Error = PackageError::TableOverflow;
    } else if (TooManyRecords) {
        return;
    } else {
        for (size_t i = 0; i < Records.size(); ++i) {
            if (Offsets[i] + Records[i].Size > Size) {
                Error = PackageError::SizePastEnd;
                BadRecord = long(i);
                break;
            }
        }
        if (Error == PackageError::None && nameFault_ >= 0) {
            Error = PackageError::NameNotTerminated;
            BadRecord = nameFault_;
        } else if (Error == PackageError::None && cursor_ != Size) {
            Error = PackageError::TrailingBytes;
        }
    }
    if (Error == PackageError::TooShort || Error == PackageError::TableOverflow) {
        Records.clear();
        Offsets.clear();
        Computed.clear();
    } else if (BadRecord >= 0) {
        Records.resize(size_t(BadRecord) < Records.size() ? size_t(BadRecord) : Records.size());
        Offsets.resize(Records.size());
        Computed.resize(Records.size());
    }
}

}  // namespace fwpack
