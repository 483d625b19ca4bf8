#include "tools/fwpack/inspect/extract.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "tools/fwpack/manifest/utf8_path.h"
#include "platform/builder_files.h"
#include "tools/fwpack/manifest/flag_names.h"
#include "payload/tagged_resource.h"
#include "tools/fwpack/manifest/printable_text.h"

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
    if (r.TooManyRecords) {
        error = what + std::to_string(r.Count) + " records; fwpack reads at most " +
                std::to_string(kMaxReadRecords);
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
        if (!IsPathText(name)) {
            error = what + "refusing file name " + Quoted(name) + ": not UTF-8, which Windows needs";
            return false;
        }
        if (!names.insert(name).second) {
            error = what + "two records are named " + Quoted(name);
            return false;
        }
    }
    return true;
}

// Folders made by one extraction, removed again (when empty) unless kept.
class MadeFolders {
  public:
    ~MadeFolders() {
        if (keep_) return;
        std::error_code ec;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) fs::remove(*it, ec);
    }
    bool Make(const fs::path &folder, std::string &error) {
        std::vector<fs::path> missing;
        std::error_code ec;
        for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
            missing.push_back(p);
            if (p == p.parent_path()) break;
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (!fs::create_directory(*it, ec) && ec) {
                error = "cannot create the folder " + Printable(Utf8String(*it)) + ": " + ec.message();
                return false;
            }
            made_.push_back(*it);
        }
        return true;
    }
    void Keep() { keep_ = true; }

  private:
    std::vector<fs::path> made_;
    bool keep_ = false;
};

// Streams one package's files into staged files of folder, one record
// after the other (a record of size 0 gets an empty file).
bool StageFiles(const ResourceReport &r, const fs::path &folder, AtomicFileSet &files,
                std::vector<std::string> &paths, std::string &error) {
    size_t next = 0;   // the record whose file is opened next
    std::string why;
    const std::string folderText = Utf8String(folder);
    auto openUpTo = [&](size_t record) {
        for (; next <= record; ++next) {
            if (next > 0 && !files.Close(why)) return false;
            const std::string &name = r.Records[next].Record.FileName;
            // A name the folder cannot hold fails here, before anything is renamed.
            if (FileNameRoom room = NameRoomIn(folderText, name); room.Limit && room.Length > room.Limit) {
                why = "file name " + Quoted(name) + " is " + std::to_string(room.Length) + " " +
                      room.Unit + "; the folder " + Printable(folderText) + " takes at most " +
                      std::to_string(room.Limit);
                return false;
            }
            paths.push_back(Utf8String(folder / Utf8Path(name)));
            if (!files.Open(paths.back(), why)) return false;
        }
        return true;
    };
    bool ok = StreamPackageFiles(
        r,
        [&](size_t record, const uint8_t *data, size_t size) {
            return openUpTo(record) && files.Append(data, size, why);
        },
        error);
    if (ok && !r.Records.empty()) ok = openUpTo(r.Records.size() - 1) && files.Close(why);
    if (!why.empty()) error = why;
    return ok;
}

}  // namespace

std::string OptionBlockText(const OptionBlock &o) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08X", o.Flags);
    std::string text = std::string("Flags = ") + flags + " (" + DescribeFlags(o.Flags) + ")\n";
    for (const OptionFieldSpec &f : kOptionFields)
        if (const std::string *value = OptionText(o, f.Field))
            text += std::string(f.Name) + " = " + Printable(*value) + "\n";
    return text;
}

bool ExtractPayload(const PayloadReport &report, const std::string &dir,
                    std::vector<std::string> &written, std::string &error) {
    written.clear();
    std::vector<const ResourceReport *> packages;
    uint64_t total = 0;
    for (const ResourceReport &r : report.Resources) {
        if (!r.Present || !r.IsPackage) continue;
        if (!Extractable(r, error)) return false;
        packages.push_back(&r);
        total += r.PackageSize;
    }
    if (total > kExtractLimit) {
        error = "the packages unpack to " + std::to_string(total) +
                " bytes; extract writes at most " + std::to_string(kExtractLimit) + " (4 GiB)";
        return false;
    }
    const ResourceReport &options = report.Get(OptionResource);
    bool haveOptions = options.Present && options.HeaderComplete;
    if (packages.empty() && !haveOptions) {
        error = "nothing to extract";
        return false;
    }

    MadeFolders folders;
    AtomicFileSet files;
    std::vector<std::pair<std::string, const FileRecord *>> timed;
    if (!folders.Make(dir, error)) return false;
    for (const ResourceReport *r : packages) {
        fs::path folder = Utf8Path(dir) / ResourceName(r->Id);
        std::vector<std::string> paths;
        if (!folders.Make(folder, error) || !StageFiles(*r, folder, files, paths, error))
            return false;
        for (size_t i = 0; i < paths.size(); ++i) timed.emplace_back(paths[i], &r->Records[i].Record);
    }
    std::string optionsPath = Utf8String(Utf8Path(dir) / "OptionBlock.txt");
    if (haveOptions) {
        std::string text = OptionBlockText(options.Options);
        if (!files.Stage(optionsPath, std::vector<uint8_t>(text.begin(), text.end()), error))
            return false;
    }
    if (!files.Commit(error)) return false;
    folders.Keep();
    for (const auto &[path, record] : timed) {
        SourceFileTimes stored{record->CreationTime, record->LastAccessTime,
                               record->LastWriteTime, true};
        if (!ApplyFileTimes(path, stored, error)) return false;
        written.push_back(path);
    }
    if (haveOptions) written.push_back(optionsPath);
    return true;
}

}  // namespace fwpack
