#include "tools/fwpack/builder/payload_builder.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <system_error>

#include "dos/work_files.h"
#include "tools/fwpack/manifest/utf8_path.h"
#include "platform/builder_files.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "tools/fwpack/builder/zlib_stream.h"
#include "tools/fwpack/manifest/printable_text.h"

namespace fwpack {
namespace {

namespace fs = std::filesystem;

// A file name that goes into a record's 260-byte FileName field.
bool CheckRecordName(const std::string &name, const NameTarget &target, std::string &error) {
    if (!IsBareFileName(name)) {
        error = target.Key + ": file name " + Quoted(name) +
                " cannot be unpacked safely (it holds '\\', '/' or ':' or is . or ..)";
        return false;
    }
    if (!IsUtf8(name)) {
        error = target.Key + ": file name " + Quoted(name) +
                " is not UTF-8; the Windows updater could not create it";
        return false;
    }
    if (name.size() >= kFileNameSize) {
        error = target.Key + ": file name " + Quoted(name) + " is " + std::to_string(name.size()) +
                " bytes; a record holds at most " + std::to_string(kFileNameSize - 1);
        return false;
    }
    if (std::string problem = NameProblem(name, target.Use, target.LinuxPackage); !problem.empty()) {
        error = target.Key + ": file name " + problem;
        return false;
    }
    return true;
}

bool ReadSourceFile(const std::string &path, const std::string &name, const std::string &key,
                    PackageFile &out, std::string &error) {
    // The times first, in case reading the file moves its access time.
    std::string why;
    SourceFileTimes times;
    // A record's Size is 32 bits: a larger file is refused before it is read.
    if (!ReadSourceFileTimes(path, times, why) ||
        !ReadWholeFile(path, out.Bytes, why, std::numeric_limits<uint32_t>::max())) {
        error = key + ": " + why;
        return false;
    }
    if (out.Bytes.empty()) {
        error = key + ": " + path + " is empty (a packed file must hold at least 1 byte)";
        return false;
    }
    out.Record = FileRecord{};
    out.Record.FileName = name;
    out.Record.CreationTime = times.Creation;
    out.Record.LastAccessTime = times.LastAccess;
    out.Record.LastWriteTime = times.LastWrite;
    return true;
}

// Every entry of a tools folder is packed: one that is no regular file
// (a folder, a FIFO, a socket, a device, a link to nothing) stops the
// build rather than being left out without a word.
bool ListedFile(const fs::directory_entry &entry, const std::string &key, std::string &error) {
    std::error_code ec;
    const fs::file_status status = entry.status(ec);
    if (fs::is_regular_file(status)) return true;
    const char *kind = fs::is_directory(status)   ? "a folder"
                       : fs::is_fifo(status)      ? "a FIFO"
                       : fs::is_socket(status)    ? "a socket"
                       : fs::is_block_file(status) || fs::is_character_file(status) ? "a device"
                       : entry.is_symlink(ec)     ? "a link to nothing"
                                                  : "not a regular file";
    error = key + ": " + Quoted(Utf8String(entry.path().filename())) + " is " + kind +
            "; a tools folder holds only the files to pack";
    return false;
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


// Everything the manifest names, read.
struct Sources {
    std::vector<PackageFile> WinTools, DosTools, Bios = std::vector<PackageFile>(1),
                                                 Me = std::vector<PackageFile>(1);
    const std::string &BiosName() const { return Bios[0].Record.FileName; }
    const std::string &MeName() const { return Me[0].Record.FileName; }
};

// The section whose tools the DOS updater's logic runs: [dos], or [uefi]
// for a UEFI package, which is the same logic as a UEFI application. Its
// tools go into resource 2000 and its programs into the option block's
// DOS fields.
struct DosSide {
    std::string Section;
    bool Present = false;
    std::string Tools, FlashProgram, MeQueryTool, MeUpdateTool;
    std::string Key(const char *key) const { return Section + "." + key; }
};

DosSide SideOf(const Manifest &m, const BuildSettings &settings) {
    if (settings.UefiPackage)
        return {"uefi", m.HasUefi, m.UefiTools, m.UefiFlashProgram, m.UefiMeQueryTool,
                m.UefiMeUpdateTool};
    return {"dos", m.HasDos, m.DosTools, m.DosFlashProgram, m.DosMeQueryTool, m.DosMeUpdateTool};
}

// A Linux or UEFI package is run by the DOS updater's logic alone: without
// its tools it could only fail.
bool CheckTarget(const DosSide &side, const BuildSettings &settings, std::string &why) {
    if (side.Present || !(settings.LinuxPackage || settings.UefiPackage)) return true;
    why = settings.UefiPackage
              ? "[uefi]: a UEFI package (--efi-stub) needs a [uefi] section; without UEFI tools "
                "its run can only fail"
              : "[dos]: a Linux package (--dos-stub) needs a [dos] section; without DOS tools its "
                "run can only fail";
    return false;
}

bool ReadSources(const Manifest &m, const DosSide &side, bool linuxPackage, Sources &src,
                 std::string &why) {
    const NameTarget win{"windows.tools", NameUse::WindowsTool, linuxPackage},
        dos{side.Key("tools"), NameUse::DosTool, linuxPackage},
        bios{"bios.image", NameUse::Image, linuxPackage}, me{"me.image", NameUse::Image, linuxPackage};
    if (!ReadToolFolder(m.WindowsTools, win, src.WinTools, why) ||
        !RequireProgram(src.WinTools, m.FlashProgram, "windows.flash_program", m.WindowsTools, why) ||
        !RequireProgram(src.WinTools, m.MeFlashProgram, "windows.me_flash_program", m.WindowsTools,
                        why))
        return false;
    if (side.Present &&
        (!ReadToolFolder(side.Tools, dos, src.DosTools, why) ||
         !RequireProgram(src.DosTools, side.FlashProgram, side.Key("flash_program"), side.Tools, why) ||
         !RequireProgram(src.DosTools, side.MeQueryTool, side.Key("me_query_tool"), side.Tools, why) ||
         !RequireProgram(src.DosTools, side.MeUpdateTool, side.Key("me_update_tool"), side.Tools, why)))
        return false;
    if (!ReadImageFile(m.BiosImage, bios, src.Bios[0], why) ||
        !ReadImageFile(m.MeImage, me, src.Me[0], why))
        return false;
    // Both images are unpacked into one folder, where case does not count.
    if (SameDosName(src.BiosName(), src.MeName())) {
        why = "me.image: " + Quoted(src.MeName()) + " names the same file as bios.image " +
              Quoted(src.BiosName()) + " in the folder both are unpacked into";
        return false;
    }
    return true;
}

// The DOS updater unpacks the tools and both images into one folder: two
// names that DOS files as one would have the second overwrite the first
// (an image written over a tool, then run as that tool).
bool CheckDosCollisions(const DosSide &side, const Sources &src, std::string &why) {
    const std::string toolsKey = side.Key("tools");
    std::vector<std::string> names, keys;
    for (const PackageFile &tool : src.DosTools) {
        names.push_back(tool.Record.FileName);
        keys.push_back(toolsKey);
    }
    names.insert(names.end(), {src.BiosName(), src.MeName()});
    keys.insert(keys.end(), {"bios.image", "me.image"});
    size_t a = 0, b = 0;
    if (!FindDosCollision(names, a, b)) return true;
    why = keys[b] + ": " + Quoted(names[b]) + " names the same DOS file as " + Quoted(names[a]) +
          " of " + (keys[a] == toolsKey ? side.Tools : keys[a]) +
          "; unpacked on DOS one would overwrite the other";
    return false;
}

// A package with DOS tools is meant for the DOS updater too: its record
// tables and its image name buffer must hold what the package carries.
bool CheckDosLimits(const DosSide &side, const Sources &src, std::string &why) {
    if (!side.Present) return true;
    if (src.DosTools.size() > kDosRecordTableRoom) {
        why = side.Key("tools") + ": " + side.Tools + " holds " + std::to_string(src.DosTools.size()) +
              " files; the DOS updater takes at most " + std::to_string(kDosRecordTableRoom);
        return false;
    }
    for (const PackageFile &tool : src.DosTools) {
        if (std::string problem = DosNameProblem(tool.Record.FileName); !problem.empty()) {
            why = side.Key("tools") + ": file name " + Quoted(tool.Record.FileName) + " " + problem;
            return false;
        }
    }
    for (const auto &[name, key] : {std::pair{&src.BiosName(), "bios.image"}, {&src.MeName(), "me.image"}}) {
        if (name->size() > kDosImageNameMax) {
            why = std::string(key) + ": file name " + Quoted(*name) + " is " +
                  std::to_string(name->size()) + " characters; the DOS updater takes at most " +
                  std::to_string(kDosImageNameMax);
            return false;
        }
        if (std::string problem = DosNameProblem(*name); !problem.empty()) {
            why = std::string(key) + ": file name " + Quoted(*name) + " " + problem;
            return false;
        }
    }
    return CheckDosCollisions(side, src, why);
}

// The DOS updater builds its three command lines inside 260-byte option
// fields. With 8.3 names (at most 12 characters each) the longest, the flash
// program, the BIOS image and every switch a run can add (" /N" from
// /noreboot, " /R" or " /N" for the restart mode, the three keep switches),
// always fits.
constexpr size_t kDosNameMax = 12;
static_assert(kDosNameMax + 1 + kDosNameMax + std::char_traits<char>::length(" " " /P /B /N /N /K0 /K1 /K2") <
              kNameFieldSize);
static_assert(kDosNameMax + std::char_traits<char>::length(" > ") + std::char_traits<char>::length(kMeLog) <
              kNameFieldSize);
static_assert(kDosNameMax + std::char_traits<char>::length(" -F ") + kDosNameMax < kNameFieldSize);

bool MakeOptions(const Manifest &m, const DosSide &side, const Sources &src,
                 std::vector<uint8_t> &bytes, std::string &why) {
    OptionBlock options;
    options.Flags = m.Flags;
    options.FlashProgram = m.FlashProgram;
    options.DosFlashProgram = side.FlashProgram;
    options.BiosImageName = src.BiosName();
    options.IdString = m.IdString;
    options.MeFlashProgram = m.MeFlashProgram;
    options.MeImageName = src.MeName();
    options.DosMeQueryTool = side.MeQueryTool;
    options.DosMeUpdateTool = side.MeUpdateTool;
    std::string field;
    if (SerializeOptionBlock(options, bytes, &field)) return true;
    why = "option block field " + field + " does not fit";
    return false;
}

bool Assemble(const Sources &src, const std::vector<uint8_t> &optionBytes, int level,
              ResourceSet &out, std::string &why) {
    return Compressed(DosPackage, src.DosTools, level, out[DosPackage], why) &&
           Compressed(ToolPackage, src.WinTools, level, out[ToolPackage], why) &&
           Body(BiosPackage, BuildFilePackage(src.Bios), out[BiosPackage], why) &&
           Body(OptionResource, optionBytes, out[OptionResource], why) &&
           Compressed(MePackage, src.Me, level, out[MePackage], why);
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

bool ReadToolFolder(const std::string &dir, const NameTarget &target,
                    std::vector<PackageFile> &out, std::string &error) {
    const std::string &key = target.Key;
    out.clear();
    std::error_code ec;
    if (!fs::is_directory(Utf8Path(dir), ec)) {
        error = key + ": " + dir + " is not a folder";
        return false;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(Utf8Path(dir), ec), end; !ec && it != end; it.increment(ec)) {
        if (!ListedFile(*it, key, error)) return false;
        names.push_back(Utf8String(it->path().filename()));
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
        if (!CheckRecordName(name, target, error) ||
            !ReadSourceFile(Utf8String(Utf8Path(dir) / Utf8Path(name)), name, key, file, error))
            return false;
        out.push_back(std::move(file));
    }
    return true;
}

bool ReadImageFile(const std::string &path, const NameTarget &target, PackageFile &out,
                   std::string &error) {
    std::string name = Utf8String(Utf8Path(path).filename());
    return CheckRecordName(name, target, error) &&
           ReadSourceFile(path, name, target.Key, out, error);
}

bool BuildPayload(const Manifest &m, const BuildSettings &settings, ResourceSet &out,
                  std::string &error) {
    out.clear();
    if (settings.Level < 0 || settings.Level > 9) {
        error = "--level: " + std::to_string(settings.Level) + " is not a deflate level 0..9";
        return false;
    }
    std::string why;
    Sources src;
    OptionBlock options;
    std::vector<uint8_t> optionBytes;
    const DosSide side = SideOf(m, settings);
    if (!CheckTarget(side, settings, why) || !ReadSources(m, side, settings.LinuxPackage, src, why) ||
        !CheckDosLimits(side, src, why) ||
        !MakeOptions(m, side, src, optionBytes, why) || !Assemble(src, optionBytes, settings.Level, out, why)) {
        out.clear();
        error = m.Path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace fwpack
