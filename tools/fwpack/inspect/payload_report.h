// Everything inspect, verify and extract need to know about a set of
// resources, read once: headers, streams, packages, records, option block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/container/container.h"
#include "tools/fwpack/inspect/package_stream.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "tools/fwpack/builder/zlib_stream.h"

namespace fwpack {

struct RecordReport {
    FileRecord Record;
    bool BytesInside = false;  // the file's bytes lie inside the package
    uint16_t Computed = 0;     // Checksum16 of those bytes
};

struct ResourceReport {
    uint16_t Id = 0;
    bool Present = false;
    bool Expected = true;  // a Linux or UEFI package carries no ToolPackage
    size_t Size = 0;

    // Tagged header (all but 2001).
    bool Tagged = false;
    bool HeaderComplete = false;  // at least 16 bytes
    std::string Tag, ExpectedTag;
    uint32_t BodyLength = 0;
    size_t RealBodyLength = 0;

    // zlib stream (2000, 2001, 2004).
    bool Compressed = false;
    ZlibHeader Stream;
    bool Inflated = false;
    std::string InflateError;

    // FilePackage (2000, 2001, 2002, 2004): the uncompressed form, read as
    // it streams past; Body keeps the stored form to stream it again.
    bool IsPackage = false;
    std::vector<uint8_t> Body;
    uint64_t PackageSize = 0;  // uncompressed bytes
    bool PackageRead = false;  // the package bytes are available at all
    PackageError Error = PackageError::None;
    bool TooManyRecords = false;  // more than kMaxReadRecords: none read
    long BadRecord = -1;
    uint32_t Count = 0;
    std::vector<RecordReport> Records;

    // Option block (2003).
    bool IsOptions = false;  // the option body is RealBodyLength bytes
    OptionBlock Options;
    std::vector<OptionField> UnterminatedFields;
};

struct PayloadReport {
    ContainerKind Kind = ContainerKind::ResourcesFolder;
    std::vector<ResourceReport> Resources;  // 2000..2004 in order
    const ResourceReport &Get(uint16_t id) const { return Resources[id - kFirstResourceId]; }
};

// The package bodies move from set into the report. kind decides which
// resources the container should hold: a Linux or UEFI package has no use
// for the Windows tools and carries no 2001.
PayloadReport AnalyzePayload(ResourceSet set,
                             ContainerKind kind = ContainerKind::ResourcesFolder);

// Streams r's package once more, inflating it when it is compressed, and
// hands every record's file bytes to sink in order. False with error when
// the stream fails or the sink refuses.
bool StreamPackageFiles(const ResourceReport &r, const FileBytesSink &sink, std::string &error);

}  // namespace fwpack
