#include "payload_builder.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <system_error>

#include "utf8_path.h"
#include "dos_short_name.h"
#include "platform/builder_files.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "zlib_stream.h"
#include "printable_text.h"

namespace fwpack {
namespace {

namespace fs = std::filesystem;

// A file name that goes into a record's 260-byte FileName field.
bool CheckRecordName(const std::string &name, const std::string &key, std::string &error) {
    if (!IsBareFileName(name)) {
        error = key + ": file name " + Quoted(name) +
                " cannot be unpacked safely (it holds '\\', '/' or ':' or is . or ..)";
        return false;
    }
    if (name.size() >= kFileNameSize) {
        error = key + ": file name " + Quoted(name) + " is " + std::to_string(name.size()) +
                " bytes; a record holds at most " + std::to_string(kFileNameSize - 1);
        return false;
    }
    return true;
}

bool ReadSourceFile(const std::string &path, const std::string &name, const std::string &key,
                    PackageFile &out, std::string &error) {
    // The times first, in case reading the file moves its access time.
    std::string why;
    SourceFileTimes times;
    if (!ReadSourceFileTimes(path, times, why) || !ReadWholeFile(path, out.Bytes, why)) {
        error = key + ": " + why;
        return false;
    }
    if (out.Bytes.empty()) {
        error = key + ": " + path + " is empty (a packed file must hold at least 1 byte)";
        return false;
    }
    if (out.Bytes.size() > std::numeric_limits<uint32_t>::max()) {
        error = key + ": " + path + " is larger than 4 GiB - 1";
        return false;
    }
    out.Record = FileRecord{};
    out.Record.FileName = name;
    out.Record.CreationTime = times.Creation;
    out.Record.LastAccessTime = times.LastAccess;
    out.Record.LastWriteTime = times.LastWrite;
    return true;
}

bool HasFile(const std::vector<PackageFile> &files, const std::string &name) {
    return std::any_of(files.begin(), files.end(),
                       [&](const PackageFile &f) { return f.Record.FileName == name; });
}

bool RequireProgram(const std::vector<PackageFile> &files, const std::string &name,
                    const std::string &key, const std::string &folder, std::string &error) {
    if (name.empty() || HasFile(files, name)) return true;
    error = key + ": " + Quoted(name) + " is not a file of the tools folder " + folder;
    return false;
}

bool Body(uint16_t id, std::vector<uint8_t> body, std::vector<uint8_t> &resource,
          std::string &error) {
    if (body.size() > std::numeric_limits<uint32_t>::max() - kTaggedHeaderSize) {
        error = std::string(ResourceName(id)) + " would be larger than 4 GiB";
        return false;
    }
    resource = id == ToolPackage ? std::move(body) : MakeTaggedResource(id, body);
    return true;
}

bool Compressed(uint16_t id, const std::vector<PackageFile> &files, int level,
                std::vector<uint8_t> &resource, std::string &error) {
    std::vector<uint8_t> stream;
    if (!CompressStream(BuildFilePackage(files), level, stream, error)) return false;
    return Body(id, std::move(stream), resource, error);
}

}  // namespace

bool FindCaseCollision(const std::vector<std::string> &names, size_t &a, size_t &b) {
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string folded = names[i];
        for (char &c : folded)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        auto [it, fresh] = seen.emplace(folded, i);
        if (!fresh) {
            a = it->second;
            b = i;
            return true;
        }
    }
    return false;
}

bool ReadToolFolder(const std::string &dir, const std::string &key, std::vector<PackageFile> &out,
                    std::string &error) {
    out.clear();
    std::error_code ec;
    if (!fs::is_directory(Utf8Path(dir), ec)) {
        error = key + ": " + dir + " is not a folder";
        return false;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(Utf8Path(dir), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) names.push_back(Utf8String(it->path().filename()));
    }
    if (ec) {
        error = key + ": cannot list " + dir + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    if (size_t a, b; FindCaseCollision(names, a, b)) {
        error = key + ": " + Quoted(names[a]) + " and " + Quoted(names[b]) +
                " differ only in case; unpacked on Windows one would overwrite the other";
        return false;
    }
    for (const auto &name : names) {
        PackageFile file;
        if (!CheckRecordName(name, key, error) ||
            !ReadSourceFile(Utf8String(Utf8Path(dir) / Utf8Path(name)), name, key, file, error))
            return false;
        out.push_back(std::move(file));
    }
    return true;
}

bool ReadImageFile(const std::string &path, const std::string &key, PackageFile &out,
                   std::string &error) {
    std::string name = Utf8String(Utf8Path(path).filename());
    return CheckRecordName(name, key, error) && ReadSourceFile(path, name, key, out, error);
}

bool BuildPayload(const Manifest &m, const BuildSettings &settings, ResourceSet &out,
                  std::string &error) {
    out.clear();
    std::string why;
    auto fail = [&] {
        error = m.Path + ": " + why;
        return false;
    };
    if (settings.Level < 0 || settings.Level > 9) {
        error = "--level: " + std::to_string(settings.Level) + " is not a deflate level 0..9";
        return false;
    }

    std::vector<PackageFile> winTools, dosTools, bios(1), me(1);
    if (!ReadToolFolder(m.WindowsTools, "windows.tools", winTools, why) ||
        !RequireProgram(winTools, m.FlashProgram, "windows.flash_program", m.WindowsTools, why) ||
        !RequireProgram(winTools, m.MeFlashProgram, "windows.me_flash_program", m.WindowsTools,
                        why))
        return fail();
    if (m.HasDos) {
        if (!ReadToolFolder(m.DosTools, "dos.tools", dosTools, why) ||
            !RequireProgram(dosTools, m.DosFlashProgram, "dos.flash_program", m.DosTools, why) ||
            !RequireProgram(dosTools, m.DosMeQueryTool, "dos.me_query_tool", m.DosTools, why) ||
            !RequireProgram(dosTools, m.DosMeUpdateTool, "dos.me_update_tool", m.DosTools, why))
            return fail();
        for (const PackageFile &tool : dosTools) {
            if (!IsDosShortName(tool.Record.FileName)) {
                why = "dos.tools: file name " + Quoted(tool.Record.FileName) + " is " +
                      DosShortNameRule();
                return fail();
            }
        }
        if (dosTools.size() > kDosPackageMaxFiles) {
            why = "dos.tools: " + m.DosTools + " holds " + std::to_string(dosTools.size()) +
                  " files; the DOS updater takes at most " + std::to_string(kDosPackageMaxFiles);
            return fail();
        }
    }
    if (!ReadImageFile(m.BiosImage, "bios.image", bios[0], why) ||
        !ReadImageFile(m.MeImage, "me.image", me[0], why))
        return fail();

    // A package with DOS tools is meant for the DOS updater too; it could not
    // open an image whose name is longer than its buffer.
    for (const auto &[image, key] : {std::pair{&bios[0], "bios.image"}, {&me[0], "me.image"}}) {
        const std::string &name = image->Record.FileName;
        if (m.HasDos && name.size() > kDosImageNameMax) {
            why = std::string(key) + ": file name " + Quoted(name) + " is " +
                  std::to_string(name.size()) + " characters; the DOS updater takes at most " +
                  std::to_string(kDosImageNameMax);
            return fail();
        }
        if (m.HasDos && !IsDosShortName(name)) {
            why = std::string(key) + ": file name " + Quoted(name) + " is " + DosShortNameRule();
            return fail();
        }
    }

    OptionBlock options;
    options.Flags = m.Flags;
    options.FlashProgram = m.FlashProgram;
    options.DosFlashProgram = m.DosFlashProgram;
    options.BiosImageName = bios[0].Record.FileName;
    options.IdString = m.IdString;
    options.MeFlashProgram = m.MeFlashProgram;
    options.MeImageName = me[0].Record.FileName;
    options.DosMeQueryTool = m.DosMeQueryTool;
    options.DosMeUpdateTool = m.DosMeUpdateTool;
    std::vector<uint8_t> optionBytes;
    std::string field;
    if (!SerializeOptionBlock(options, optionBytes, &field)) {
        why = "option block field " + field + " does not fit";
        return fail();
    }

    if (!Compressed(DosPackage, dosTools, settings.Level, out[DosPackage], why) ||
        !Compressed(ToolPackage, winTools, settings.Level, out[ToolPackage], why) ||
        !Body(BiosPackage, BuildFilePackage(bios), out[BiosPackage], why) ||
        !Body(OptionResource, optionBytes, out[OptionResource], why) ||
        !Compressed(MePackage, me, settings.Level, out[MePackage], why)) {
        out.clear();
        return fail();
    }
    return true;
}

}  // namespace fwpack
