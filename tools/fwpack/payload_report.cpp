#include "payload_report.h"

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

void AnalyzePackage(ResourceReport &r) {
    r.PackageRead = true;
    FilePackageView view;
    PackageCheck check;
    check.RequireBareNames = false;  // reported by the checks, so inspect still shows them
    r.Error =
        ParseFilePackage(r.PackageBytes.data(), r.PackageBytes.size(), view, check, &r.BadRecord);
    ReadU32(r.PackageBytes.data(), r.PackageBytes.size(), 0, r.Count);
    r.Offsets = view.Offsets;
    for (size_t i = 0; i < view.Records.size(); ++i) {
        RecordReport rec;
        rec.Record = view.Records[i];
        if (i < view.Offsets.size() && view.Offsets[i] <= r.PackageBytes.size() &&
            rec.Record.Size <= r.PackageBytes.size() - view.Offsets[i]) {
            rec.BytesInside = true;
            rec.Computed = Checksum16(r.PackageBytes.data() + view.Offsets[i], rec.Record.Size);
        }
        r.Records.push_back(std::move(rec));
    }
}

}  // namespace

PayloadReport AnalyzePayload(const ResourceSet &set, ContainerKind kind) {
    PayloadReport report;
    for (uint16_t id = kFirstResourceId; id <= kLastResourceId; ++id) {
        ResourceReport r;
        r.Id = id;
        r.Expected = !(id == ToolPackage && kind == ContainerKind::LinuxPackage);
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
            if (haveBody && r.Compressed) {
                r.Stream = ReadZlibHeader(body, bodySize);
                r.Inflated = InflateStream(body, bodySize, r.PackageBytes, r.InflateError);
                if (r.Inflated) AnalyzePackage(r);
            } else if (haveBody && r.IsPackage) {
                r.PackageBytes.assign(body, body + bodySize);
                AnalyzePackage(r);
            } else if (haveBody && r.IsOptions) {
                AnalyzeOptions(body, bodySize, r);
            }
        }
        report.Resources.push_back(std::move(r));
    }
    return report;
}

}  // namespace fwpack
