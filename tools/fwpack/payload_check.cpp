#include "payload_check.h"

#include <algorithm>
#include <cstdio>

#include "dos_short_name.h"
#include "payload/tagged_resource.h"
#include "payload_builder.h"
#include "printable_text.h"

namespace fwpack {
namespace {

class Problems {
  public:
    explicit Problems(std::vector<std::string> &out) : out_(out) {}
    void Add(const ResourceReport &r, const std::string &text) {
        out_.push_back(std::to_string(r.Id) + " " + ResourceName(r.Id) + ": " + text);
    }

  private:
    std::vector<std::string> &out_;
};

void CheckHeader(const ResourceReport &r, Problems &p) {
    if (!r.HeaderComplete) {
        p.Add(r, "only " + std::to_string(r.Size) + " bytes, shorter than the 16-byte header");
        return;
    }
    if (r.Tag != r.ExpectedTag)
        p.Add(r, "tag " + Quoted(r.Tag) + ", expected " + Quoted(r.ExpectedTag));
    if (r.BodyLength != r.RealBodyLength)
        p.Add(r, "BodyLength " + std::to_string(r.BodyLength) + " but " +
                     std::to_string(r.RealBodyLength) + " bytes follow the header");
}

void CheckStream(const ResourceReport &r, Problems &p) {
    if (!r.Stream.Present) {
        p.Add(r, "no zlib stream (body of " + std::to_string(r.RealBodyLength) + " bytes)");
        return;
    }
    if (!r.Stream.Valid) {
        p.Add(r, "body does not begin with a zlib header (" + Hex(r.Stream.Cmf, 2) + " " +
                     Hex(r.Stream.Flg, 2) + ")");
    } else if (r.Stream.WindowSize > 1024) {
        p.Add(r, "zlib stream declares a " + std::to_string(r.Stream.WindowSize) +
                     "-byte window; the readers accept at most 1024");
    }
    if (!r.Inflated && r.Stream.Valid)
        p.Add(r, "zlib stream does not decompress: " + r.InflateError);
}

void CheckPackage(const ResourceReport &r, Problems &p) {
    if (r.Error != PackageError::None) {
        std::string where = r.BadRecord >= 0 ? " (record " + std::to_string(r.BadRecord) + ")" : "";
        p.Add(r, std::string("broken package: ") + PackageErrorText(r.Error) + where);
    }
    for (size_t i = 0; i < r.Records.size(); ++i) {
        const RecordReport &rec = r.Records[i];
        std::string name = "record " + std::to_string(i) + " " + Quoted(rec.Record.FileName);
        if (!IsBareFileName(rec.Record.FileName))
            p.Add(r, name + ": not a bare file name; it would be written outside its folder");
        else if (r.Id == DosPackage && !IsDosShortName(rec.Record.FileName))
            p.Add(r, name + ": " + DosShortNameRule());
        if (rec.Record.Size == 0) p.Add(r, name + ": size 0");
        if (rec.BytesInside && rec.Record.Checksum != rec.Computed)
            p.Add(r, name + ": checksum " + Hex(rec.Record.Checksum, 8) + " stored, bytes sum to " +
                         Hex(rec.Computed, 8));
    }
    std::vector<std::string> names;
    for (const RecordReport &rec : r.Records) names.push_back(rec.Record.FileName);
    if (size_t a, b; FindCaseCollision(names, a, b))
        p.Add(r, "records " + std::to_string(a) + " " + Quoted(names[a]) + " and " +
                     std::to_string(b) + " " + Quoted(names[b]) +
                     " differ only in case; unpacked on Windows one would overwrite the other");
    bool dosReads = r.Id == DosPackage || r.Id == BiosPackage || r.Id == MePackage;
    if (dosReads && r.Count > kDosPackageMaxFiles && r.Error != PackageError::TableOverflow)
        p.Add(r, std::to_string(r.Count) + " files; the DOS updater holds at most " +
                     std::to_string(kDosPackageMaxFiles));
    if ((r.Id == BiosPackage || r.Id == MePackage) && r.Count != 1 &&
        r.Error != PackageError::TableOverflow && r.Error != PackageError::TooShort)
        p.Add(r, std::to_string(r.Count) + " records; the image package holds exactly 1");
}

bool PackageHas(const ResourceReport &r, const std::string &name) {
    return std::any_of(r.Records.begin(), r.Records.end(),
                       [&](const RecordReport &rec) { return rec.Record.FileName == name; });
}

// A package whose DOS package holds tools is meant for the DOS updater too.
bool DosToolsPresent(const PayloadReport &report) {
    const ResourceReport &dos = report.Get(DosPackage);
    return dos.PackageRead && !dos.Records.empty();
}

void CheckOptions(const PayloadReport &report, const ResourceReport &r, Problems &p) {
    const OptionBlock &o = r.Options;
    if (r.RealBodyLength < kOptionBlockSize)
        p.Add(r, "option block is " + std::to_string(r.RealBodyLength) + " bytes; " +
                     std::to_string(kOptionBlockSize) + " expected");
    for (const auto &field : r.UnterminatedFields) {
        if (field == "IdString")
            p.Add(r, "IdString is over 127 characters (no NUL in its 128 bytes)");
        else
            p.Add(r, field + " has no NUL in its 260 bytes");
    }
    struct Named {
        const char *Field;
        const std::string &Value;
        uint16_t Package;
    };
    const Named names[] = {
        {"FlashProgram", o.FlashProgram, ToolPackage},
        {"MeFlashProgram", o.MeFlashProgram, ToolPackage},
        {"DosFlashProgram", o.DosFlashProgram, DosPackage},
        {"DosMeQueryTool", o.DosMeQueryTool, DosPackage},
        {"DosMeUpdateTool", o.DosMeUpdateTool, DosPackage},
        {"BiosImageName", o.BiosImageName, BiosPackage},
        {"MeImageName", o.MeImageName, MePackage},
    };
    for (const auto &n : names) {
        bool image = n.Package == BiosPackage || n.Package == MePackage;
        if (n.Value.empty()) {
            if (image) p.Add(r, std::string(n.Field) + " is empty");
            continue;
        }
        if (!IsBareFileName(n.Value)) {
            p.Add(r, std::string(n.Field) + " " + Quoted(n.Value) + " is not a bare file name");
            continue;
        }
        const ResourceReport &pkg = report.Get(n.Package);
        if (!pkg.PackageRead || pkg.Error != PackageError::None)
            continue;  // reported with the package
        if (image && n.Value.size() > kDosImageNameMax && DosToolsPresent(report))
            p.Add(r, std::string(n.Field) + " " + Quoted(n.Value) + " is " +
                         std::to_string(n.Value.size()) +
                         " characters; the DOS updater opens at most " +
                         std::to_string(kDosImageNameMax));
        else if (image && DosToolsPresent(report) && !IsDosShortName(n.Value))
            p.Add(r, std::string(n.Field) + " " + Quoted(n.Value) + " is " + DosShortNameRule());
        if (image) {
            const std::string record = pkg.Records.empty() ? "" : pkg.Records[0].Record.FileName;
            if (record != n.Value)
                p.Add(r, std::string(n.Field) + " " + Quoted(n.Value) + " differs from the " +
                             ResourceName(n.Package) + " record's FileName " + Quoted(record));
        } else if (!PackageHas(pkg, n.Value)) {
            p.Add(r, std::string(n.Field) + " " + Quoted(n.Value) + " is not a file of " +
                         ResourceName(n.Package));
        }
    }
}

}  // namespace

std::vector<std::string> PayloadProblems(const PayloadReport &report) {
    std::vector<std::string> out;
    Problems p(out);
    for (const ResourceReport &r : report.Resources) {
        if (!r.Present) {
            if (r.Expected) p.Add(r, "missing");
            continue;
        }
        if (r.Tagged) CheckHeader(r, p);
        if (r.Compressed && (!r.Tagged || r.HeaderComplete)) CheckStream(r, p);
        if (r.PackageRead) CheckPackage(r, p);
    }
    const ResourceReport &options = report.Get(OptionResource);
    if (options.Present && options.HeaderComplete) CheckOptions(report, options, p);
    return out;
}

}  // namespace fwpack
