#include "tools/fwpack/inspect/payload_check.h"

#include <algorithm>
#include <cstdio>

#include "payload/dos_limits.h"
#include "payload/tagged_resource.h"
#include "tools/fwpack/manifest/dos_short_name.h"
#include "tools/fwpack/manifest/name_rules.h"
#include "tools/fwpack/builder/payload_builder.h"
#include "tools/fwpack/manifest/printable_text.h"

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
    } else if (r.Stream.WindowSize > kPayloadWindowSize) {
        p.Add(r, "zlib stream declares a " + std::to_string(r.Stream.WindowSize) +
                     "-byte window; the readers accept at most " + std::to_string(kPayloadWindowSize));
    }
    if (!r.Inflated && r.Stream.Valid)
        p.Add(r, "zlib stream does not decompress: " + r.InflateError);
}

NameUse UseOf(uint16_t id) {
    return id == ToolPackage ? NameUse::WindowsTool : id == DosPackage ? NameUse::DosTool : NameUse::Image;
}

void CheckPackage(const ResourceReport &r, bool linuxPackage, Problems &p) {
    if (r.Error != PackageError::None) {
        std::string where = r.BadRecord >= 0 ? " (record " + std::to_string(r.BadRecord) + ")" : "";
        p.Add(r, std::string("broken package: ") + PackageErrorText(r.Error) + where);
    }
    if (r.TooManyRecords)
        p.Add(r, std::to_string(r.Count) + " records; fwpack reads at most " +
                     std::to_string(kMaxReadRecords));
    for (size_t i = 0; i < r.Records.size(); ++i) {
        const RecordReport &rec = r.Records[i];
        std::string name = "record " + std::to_string(i) + " " + Quoted(rec.Record.FileName);
        if (!IsBareFileName(rec.Record.FileName))
            p.Add(r, name + ": not a bare file name; it would be written outside its folder");
        else if (!IsUtf8(rec.Record.FileName))
            p.Add(r, name + ": not UTF-8; the Windows updater could not create it");
        else if (std::string problem = NameProblem(rec.Record.FileName, UseOf(r.Id), linuxPackage);
                 !problem.empty())
            p.Add(r, "record " + std::to_string(i) + " " + problem);
        else if (r.Id == DosPackage && !IsDosShortName(rec.Record.FileName))
            p.Add(r, name + ": " + DosShortNameRule());
        else if (r.Id == DosPackage && !DosNameProblem(rec.Record.FileName).empty())
            p.Add(r, name + " " + DosNameProblem(rec.Record.FileName));
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
    if (dosReads && r.Count > kDosRecordTableRoom && r.Error != PackageError::TableOverflow)
        p.Add(r, std::to_string(r.Count) + " files; the DOS updater holds at most " +
                     std::to_string(kDosRecordTableRoom));
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

// A field that names a file: it must be a bare name of a file that its
// package holds (for an image: the package's one record).
void CheckNamedFile(const PayloadReport &report, const ResourceReport &r,
                    const OptionFieldSpec &f, const std::string &value, Problems &p) {
    const std::string field = f.Name;
    const bool image = f.Package == BiosPackage || f.Package == MePackage;
    if (value.empty()) {
        if (image) p.Add(r, field + " is empty");
        return;
    }
    if (!IsBareFileName(value)) {
        p.Add(r, field + " " + Quoted(value) + " is not a bare file name");
        return;
    }
    const ResourceReport &pkg = report.Get(f.Package);
    if (!pkg.PackageRead || pkg.Error != PackageError::None) return;  // reported with the package
    if (image && value.size() > kDosImageNameMax && DosToolsPresent(report))
        p.Add(r, field + " " + Quoted(value) + " is " + std::to_string(value.size()) +
                     " characters; the DOS updater opens at most " + std::to_string(kDosImageNameMax));
    else if (image && DosToolsPresent(report) && !DosNameProblem(value).empty())
        p.Add(r, field + " " + Quoted(value) + " " + DosNameProblem(value));
    if (image) {
        const std::string record = pkg.Records.empty() ? "" : pkg.Records[0].Record.FileName;
        if (record != value)
            p.Add(r, field + " " + Quoted(value) + " differs from the " + ResourceName(f.Package) +
                         " record's FileName " + Quoted(record));
    } else if (!PackageHas(pkg, value)) {
        p.Add(r, field + " " + Quoted(value) + " is not a file of " + ResourceName(f.Package));
    }
}

// The DOS updater unpacks the records of its three packages into one
// folder, so no image may be one DOS file with a tool (two tools that meet
// differ only in case, and two images that meet are the option block's
// finding).
void CheckDosCollisions(const PayloadReport &report, Problems &p) {
    if (!DosToolsPresent(report)) return;
    const size_t tools = report.Get(DosPackage).Records.size();
    std::vector<std::string> names, owners;
    for (uint16_t id : {DosPackage, BiosPackage, MePackage})
        for (size_t i = 0; i < report.Get(id).Records.size(); ++i) {
            names.push_back(report.Get(id).Records[i].Record.FileName);
            owners.push_back(std::string(ResourceName(id)) + " record " + std::to_string(i));
        }
    size_t a = 0, b = 0;
    if (FindDosCollision(names, a, b) && a < tools && b >= tools)
        p.Add(report.Get(DosPackage), owners[b] + " " + Quoted(names[b]) + " and " + owners[a] + " " +
                                          Quoted(names[a]) +
                                          " are one DOS file; unpacked on DOS one would overwrite the other");
}

void CheckOptions(const PayloadReport &report, const ResourceReport &r, Problems &p) {
    if (r.RealBodyLength < kOptionBlockSize)
        p.Add(r, "option block is " + std::to_string(r.RealBodyLength) + " bytes; " +
                     std::to_string(kOptionBlockSize) + " expected");
    for (OptionField field : r.UnterminatedFields) {
        const OptionFieldSpec &f = OptionFieldOf(field);
        const std::string name = f.Name, bytes = std::to_string(f.Size);
        if (f.Kind == OptionFieldKind::Text)
            p.Add(r, name + " is over " + std::to_string(f.Size - 1) + " characters (no NUL in its " +
                         bytes + " bytes)");
        else
            p.Add(r, name + " has no NUL in its " + bytes + " bytes");
    }
    const OptionBlock &o = r.Options;
    if (!o.BiosImageName.empty() && SameDosName(o.BiosImageName, o.MeImageName))
        p.Add(r, "MeImageName " + Quoted(o.MeImageName) + " names the same file as BiosImageName " +
                     Quoted(o.BiosImageName) + " in the folder both are unpacked into");
    // Windows programs first, then the DOS tools, then the images.
    for (uint16_t package : {ToolPackage, DosPackage, BiosPackage, MePackage})
        for (const OptionFieldSpec &f : kOptionFields)
            if (f.Kind == OptionFieldKind::FileName && f.Package == package)
                CheckNamedFile(report, r, f, *OptionText(r.Options, f.Field), p);
}

// The UEFI updater runs the option block's three DOS tools through the
// shell, which starts only EFI applications and scripts.
void CheckUefiPrograms(const ResourceReport &r, Problems &p) {
    const OptionBlock &o = r.Options;
    for (const auto &[field, value] : {std::pair{"DosFlashProgram", &o.DosFlashProgram},
                                       {"DosMeQueryTool", &o.DosMeQueryTool},
                                       {"DosMeUpdateTool", &o.DosMeUpdateTool}}) {
        if (value->empty())
            p.Add(r, std::string(field) + " is empty; the UEFI updater runs it");
        else if (!IsUefiProgramName(*value))
            p.Add(r, std::string(field) + " " + Quoted(*value) + " " + UefiProgramRule());
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
        if (r.PackageRead) CheckPackage(r, report.Kind == ContainerKind::LinuxPackage, p);
    }
    const ResourceReport &options = report.Get(OptionResource);
    if (options.Present && options.HeaderComplete) CheckOptions(report, options, p);
    if (options.Present && options.HeaderComplete && report.Kind == ContainerKind::UefiPackage)
        CheckUefiPrograms(options, p);
    CheckDosCollisions(report, p);
    return out;
}

}  // namespace fwpack
