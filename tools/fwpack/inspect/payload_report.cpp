#include "tools/fwpack/inspect/payload_report.h"

#include <algorithm>

#include "payload/bytes.h"
#include "payload/checksum16.h"
#include "payload/tagged_resource.h"

namespace fwpack {
namespace {

void AnalyzeOptions(const uint8_t *body, size_t size, ResourceReport &r) {
    ParseOptionBlock(body, size, r.Options);
    for (const OptionFieldSpec &f : kOptionFields) {
        FieldSpan span;
        if (f.Kind != OptionFieldKind::Word && ReadField(body, size, f.Offset, f.Size, span) &&
            !span.Terminated)
            r.UnterminatedFields.push_back(f.Field);
    }
}

// Feeds the package's bytes (inflating a compressed body) to stream.
bool StreamPackage(const ResourceReport &r, PackageStream &stream, std::string &error) {
    if (r.Compressed)
        return InflateStream(r.Body.data(), r.Body.size(),
                         [&](const uint8_t *data, size_t size) { return stream.Feed(data, size); },
                         error);
    if (stream.Feed(r.Body.data(), r.Body.size())) return true;
    error = "stopped";
    return false;
}

void AnalyzePackage(ResourceReport &r) {
    PackageStream stream;
    bool streamed = StreamPackage(r, stream, r.InflateError);
    if (r.Compressed) r.Inflated = streamed;
    if (!streamed) return;
    stream.Finish();
    r.PackageRead = true;
    r.PackageSize = stream.Size;
    r.Count = stream.Count;
    r.Error = stream.Error;
    r.TooManyRecords = stream.TooManyRecords;
    r.BadRecord = stream.BadRecord;
    for (size_t i = 0; i < stream.Records.size(); ++i) {
        RecordReport rec;
        rec.Record = std::move(stream.Records[i]);
        rec.BytesInside = stream.Offsets[i] + rec.Record.Size <= stream.Size;
        if (rec.BytesInside) rec.Computed = stream.Computed[i];
        r.Records.push_back(std::move(rec));
    }
}

}  // namespace

PayloadReport AnalyzePayload(ResourceSet set, ContainerKind kind) {
    PayloadReport report;
    report.Kind = kind;
    for (uint16_t id = kFirstResourceId; id <= kLastResourceId; ++id) {
        ResourceReport r;
        r.Id = id;
        r.Expected = !(id == ToolPackage && (kind == ContainerKind::LinuxPackage ||
                                             kind == ContainerKind::UefiPackage));
        r.Tagged = id != ToolPackage;
        r.ExpectedTag = ResourceTag(id);
        r.Compressed = id == DosPackage || id == ToolPackage || id == MePackage;
        r.IsPackage = id != OptionResource;
        r.IsOptions = id == OptionResource;
        auto it = set.find(id);
        if (it != set.end()) {
            r.Present = true;
            const std::vector<uint8_t> &bytes = it->second;
            r.Size = bytes.size();
            const uint8_t *body = bytes.data();
            size_t bodySize = bytes.size();
            bool haveBody = true;
            if (r.Tagged) {
                TaggedResource t;
                r.HeaderComplete = ParseTaggedResource(bytes.data(), bytes.size(), t);
                if (r.HeaderComplete) {
                    r.Tag = t.Tag;
                    r.BodyLength = t.BodyLength;
                    r.RealBodyLength = t.BodySize;
                    body = t.Body;
                    bodySize = t.BodySize;
                } else {
                    r.Tag.assign(bytes.begin(),
                                 bytes.begin() + long(std::min(bytes.size(), kTagLength)));
                    haveBody = false;
                }
            } else {
                r.RealBodyLength = bytes.size();
            }
            if (haveBody && r.IsPackage) {
                if (r.Compressed) r.Stream = ReadZlibHeader(body, bodySize);
                // The body moves into the report: no second copy of it.
                const size_t headerSize = size_t(body - bytes.data());
                r.Body = std::move(it->second);
                r.Body.erase(r.Body.begin(), r.Body.begin() + long(headerSize));
                AnalyzePackage(r);
            } else if (haveBody && r.IsOptions) {
                AnalyzeOptions(body, bodySize, r);
            }
        }
        report.Resources.push_back(std::move(r));
    }
    return report;
}

bool StreamPackageFiles(const ResourceReport &r, const FileBytesSink &sink, std::string &error) {
    PackageStream stream(sink);
    return StreamPackage(r, stream, error);
}

}  // namespace fwpack
