#include "extract.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "utf8_path.h"
#include "platform/builder_files.h"
#include "flag_names.h"
#include "payload/tagged_resource.h"
#include "printable_text.h"

namespace fwpack {
namespace {

namespace fs = std::filesystem;

bool Extractable(const ResourceReport &r, std::string &error) {
    std::string what = std::to_string(r.Id) + " " + ResourceName(r.Id) + ": ";
    if (r.Tagged && !r.HeaderComplete) {
        error = what + "shorter than its header";
        return false;
    }
    if (r.Compressed && !r.Inflated) {
        error = what + "zlib stream does not decompress: " + r.InflateError;
        return false;
    }
    if (r.Error != PackageError::None) {
        error = what + "broken package: " + PackageErrorText(r.Error);
        return false;
    }
    std::set<std::string> names;
    for (const RecordReport &rec : r.Records) {
        const std::string &name = rec.Record.FileName;
        if (!IsBareFileName(name)) {
            error = what + "refusing file name " + Quoted(name) + ": not a bare file name";
            return false;
        }
        if (!names.insert(name).second) {
            error = what + "two records are named " + Quoted(name);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string OptionBlockText(const OptionBlock &o) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08X", o.Flags);
    return std::string("Flags = ") + flags + " (" + DescribeFlags(o.Flags) + ")\n" +
           "FlashProgram = " + o.FlashProgram + "\n" + "DosFlashProgram = " + o.DosFlashProgram +
           "\n" + "BiosImageName = " + o.BiosImageName + "\n" + "IdString = " + o.IdString + "\n" +
           "MeFlashProgram = " + o.MeFlashProgram + "\n" + "MeImageName = " + o.MeImageName + "\n" +
           "DosMeQueryTool = " + o.DosMeQueryTool + "\n" +
           "DosMeUpdateTool = " + o.DosMeUpdateTool + "\n";
}

bool ExtractPayload(const PayloadReport &report, const std::string &dir,
                    std::vector<std::string> &written, std::string &error) {
    written.clear();
    std::vector<const ResourceReport *> packages;
    for (const ResourceReport &r : report.Resources) {
        if (!r.Present || !r.IsPackage) continue;
        if (!Extractable(r, error)) return false;
        packages.push_back(&r);
    }
    const ResourceReport &options = report.Get(OptionResource);
    bool haveOptions = options.Present && options.HeaderComplete;
    if (packages.empty() && !haveOptions) {
        error = "nothing to extract";
        return false;
    }

    struct Timed {
        std::string Path;
        const FileRecord *Record;
    };
    std::vector<Timed> timed;
    AtomicFileSet files;
    std::error_code ec;
    for (const ResourceReport *r : packages) {
        fs::path folder = Utf8Path(dir) / ResourceName(r->Id);
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot create the folder " + Utf8String(folder) + ": " + ec.message();
            return false;
        }
        for (size_t i = 0; i < r->Records.size(); ++i) {
            const FileRecord &f = r->Records[i].Record;
            const uint8_t *bytes = r->PackageBytes.data() + r->Offsets[i];
            std::string path = Utf8String(folder / f.FileName);
            if (!files.Stage(path, std::vector<uint8_t>(bytes, bytes + f.Size), error))
                return false;
            timed.push_back({path, &f});
            written.push_back(path);
        }
    }
    if (haveOptions) {
        fs::create_directories(Utf8Path(dir), ec);
        std::string text = OptionBlockText(options.Options);
        std::string path = Utf8String(Utf8Path(dir) / "OptionBlock.txt");
        if (!files.Stage(path, std::vector<uint8_t>(text.begin(), text.end()), error)) return false;
        written.push_back(path);
    }
    if (!files.Commit(error)) return false;
    for (const Timed &t : timed) {
        SourceFileTimes stored{t.Record->CreationTime, t.Record->LastAccessTime,
                               t.Record->LastWriteTime, true};
        if (!ApplyFileTimes(t.Path, stored, error)) return false;
    }
    return true;
}

}  // namespace fwpack
