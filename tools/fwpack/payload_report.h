// Everything inspect, verify and extract need to know about a set of
// resources, read once: headers, streams, packages, records, option block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "container.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "zlib_stream.h"

namespace fwpack {

struct RecordReport {
    FileRecord Record;
    bool BytesInside = false;  // the file's bytes lie inside the package
    uint16_t Computed = 0;     // Checksum16 of those bytes
};

struct ResourceReport {
    uint16_t Id = 0;
    bool Present = false;
    bool Expected = true;  // a Linux package carries no ToolPackage
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

    // FilePackage (2000, 2001, 2002, 2004): the uncompressed form.
    bool IsPackage = false;
    std::vector<uint8_t> PackageBytes;
    bool PackageRead = false;  // the package bytes are available at all
    PackageError Error = PackageError::None;
    long BadRecord = -1;
    uint32_t Count = 0;
    std::vector<RecordReport> Records;
    std::vector<size_t> Offsets;  // where each record's bytes start (when parsed)

    // Option block (2003).
    bool IsOptions = false;  // the option body is RealBodyLength bytes
    OptionBlock Options;
    std::vector<OptionField> UnterminatedFields;
};

struct PayloadReport {
    std::vector<ResourceReport> Resources;  // 2000..2004 in order
    const ResourceReport &Get(uint16_t id) const { return Resources[id - kFirstResourceId]; }
};

// kind decides which resources the container should hold: a Linux package
// has no use for the Windows tools and carries no 2001.
PayloadReport AnalyzePayload(const ResourceSet &set,
                             ContainerKind kind = ContainerKind::ResourcesFolder);

}  // namespace fwpack
