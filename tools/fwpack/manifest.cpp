#include "manifest.h"

#include <filesystem>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "utf8_path.h"
#include "flag_names.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "platform/builder_files.h"
#include "printable_text.h"

namespace fwpack {
namespace {

namespace fs = std::filesystem;

// Collects the first problem as "<manifest>: <key>: <problem>".
class Checker {
  public:
    Checker(const std::string &path, std::string &error) : path_(path), error_(error) {}
    bool Fail(const std::string &key, const std::string &problem) {
        if (!failed_) error_ = path_ + ": " + key + ": " + problem;
        failed_ = true;
        return false;
    }
    bool Failed() const { return failed_; }

  private:
    const std::string &path_;
    std::string &error_;
    bool failed_ = false;
};

bool KnownKeys(Checker &c, const toml::table &t, const std::string &prefix,
               const std::set<std::string> &known) {
    for (const auto &[key, value] : t) {
        std::string k(key.str());
        if (!known.count(k)) return c.Fail(prefix + k, "unknown key");
    }
    return true;
}

const toml::table *Section(Checker &c, const toml::table &root, const char *name, bool required) {
    const toml::node *n = root.get(name);
    if (!n) {
        if (required) c.Fail(std::string("[") + name + "]", "required section is missing");
        return nullptr;
    }
    if (!n->is_table()) {
        c.Fail(name, "must be a section ([" + std::string(name) + "])");
        return nullptr;
    }
    return n->as_table();
}

// A string value; absent leaves out unchanged. False on a wrong type or a
// missing required key.
bool String(Checker &c, const toml::table &t, const std::string &section, const char *key,
            bool required, std::string &out) {
    std::string full = section + "." + key;
    const toml::node *n = t.get(key);
    if (!n) return required ? c.Fail(full, "required key is missing") : true;
    if (!n->is_string()) return c.Fail(full, "must be a string");
    out = n->as_string()->get();
    if (out.find('\0') != std::string::npos) return c.Fail(full, "holds a NUL character");
    return true;
}

// A name that goes into a 260-byte field of the option block and must name
// a file of a tools folder.
bool ProgramName(Checker &c, const std::string &key, const std::string &name, bool allowEmpty) {
    if (name.empty()) return allowEmpty ? true : c.Fail(key, "must not be empty");
    if (!IsBareFileName(name))
        return c.Fail(key, Quoted(name) + " is not a bare file name (no folder part, not . or ..)");
    if (name.size() >= kNameFieldSize)
        return c.Fail(key, "name is " + std::to_string(name.size()) +
                               " bytes; the field holds at most " +
                               std::to_string(kNameFieldSize - 1));
    return true;
}

std::string Resolve(const fs::path &base, const std::string &p) {
    fs::path path = Utf8Path(p);
    return Utf8String((path.is_absolute() ? path : base / path).lexically_normal());
}

bool ReadFlags(Checker &c, const toml::node &n, uint32_t &flags) {
    if (const auto *v = n.as_integer()) {
        int64_t value = v->get();
        if (value < 0 || value > 0xFFFFFFFFll)
            return c.Fail("options.flags", "number out of range 0..0xFFFFFFFF");
        flags = uint32_t(value);
        return true;
    }
    const auto *list = n.as_array();
    if (!list) return c.Fail("options.flags", "must be a list of flag names or a number");
    flags = 0;
    for (const auto &item : *list) {
        const auto *name = item.as_string();
        if (!name) return c.Fail("options.flags", "every list entry must be a flag name string");
        uint32_t bit = FlagBitForName(name->get());
        if (!bit)
            return c.Fail("options.flags", "unknown flag name " + Quoted(name->get()) +
                                               " (see fwpack build --help)");
        flags |= bit;
    }
    return true;
}

}  // namespace

bool LoadManifest(const std::string &path, Manifest &out, std::string &error) {
    out = Manifest{};
    out.Path = path;
    std::error_code ec;
    if (!fs::is_regular_file(Utf8Path(path), ec)) {
        error = path + ": " + (fs::exists(Utf8Path(path), ec) ? "not a file" : "no such file");
        return false;
    }
    // Read here rather than by the parser, so that any path the file layer
    // opens (non-ASCII names on Windows) is a manifest path.
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, text, error)) return false;
    toml::table root;
    try {
        root = toml::parse(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()),
                           path);
    } catch (const toml::parse_error &e) {
        const auto &where = e.source().begin;
        std::ostringstream s;
        s << path;
        if (where.line) s << ":" << where.line << ":" << where.column;
        s << ": " << e.description();
        error = s.str();
        return false;
    }
    Checker c(path, error);
    fs::path base = Utf8Path(path).parent_path();
    if (base.empty()) base = ".";

    if (!KnownKeys(c, root, "", {"options", "windows", "dos", "bios", "me"})) return false;

    if (const toml::table *opt = Section(c, root, "options", false)) {
        if (!KnownKeys(c, *opt, "options.", {"flags", "id_string"})) return false;
        if (const toml::node *f = opt->get("flags"); f && !ReadFlags(c, *f, out.Flags))
            return false;
        if (!String(c, *opt, "options", "id_string", false, out.IdString)) return false;
        if (out.IdString.size() >= kIdStringSize)
            return c.Fail("options.id_string", "is " + std::to_string(out.IdString.size()) +
                                                   " characters; at most " +
                                                   std::to_string(kIdStringSize - 1) + " fit");
    }
    if (c.Failed()) return false;

    const toml::table *win = Section(c, root, "windows", true);
    if (!win) return false;
    std::string tools;
    if (!KnownKeys(c, *win, "windows.", {"tools", "flash_program", "me_flash_program"}) ||
        !String(c, *win, "windows", "tools", true, tools) ||
        !String(c, *win, "windows", "flash_program", false, out.FlashProgram) ||
        !String(c, *win, "windows", "me_flash_program", false, out.MeFlashProgram) ||
        !ProgramName(c, "windows.flash_program", out.FlashProgram, true) ||
        !ProgramName(c, "windows.me_flash_program", out.MeFlashProgram, true))
        return false;
    out.WindowsTools = Resolve(base, tools);

    if (const toml::table *dos = Section(c, root, "dos", false)) {
        out.HasDos = true;
        if (!KnownKeys(c, *dos, "dos.",
                       {"tools", "flash_program", "me_query_tool", "me_update_tool"}) ||
            !String(c, *dos, "dos", "tools", true, tools) ||
            !String(c, *dos, "dos", "flash_program", true, out.DosFlashProgram) ||
            !String(c, *dos, "dos", "me_query_tool", true, out.DosMeQueryTool) ||
            !String(c, *dos, "dos", "me_update_tool", true, out.DosMeUpdateTool) ||
            !ProgramName(c, "dos.flash_program", out.DosFlashProgram, false) ||
            !ProgramName(c, "dos.me_query_tool", out.DosMeQueryTool, false) ||
            !ProgramName(c, "dos.me_update_tool", out.DosMeUpdateTool, false))
            return false;
        out.DosTools = Resolve(base, tools);
    }
    if (c.Failed()) return false;

    std::string image;
    const toml::table *bios = Section(c, root, "bios", true);
    if (!bios || !KnownKeys(c, *bios, "bios.", {"image"}) ||
        !String(c, *bios, "bios", "image", true, image))
        return false;
    if (image.empty()) return c.Fail("bios.image", "must not be empty");
    out.BiosImage = Resolve(base, image);

    const toml::table *me = Section(c, root, "me", true);
    if (!me || !KnownKeys(c, *me, "me.", {"image"}) || !String(c, *me, "me", "image", true, image))
        return false;
    if (image.empty()) return c.Fail("me.image", "must not be empty");
    out.MeImage = Resolve(base, image);
    return true;
}

}  // namespace fwpack
