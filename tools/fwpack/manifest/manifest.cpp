#include "tools/fwpack/manifest/manifest.h"

#include <filesystem>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "tools/fwpack/manifest/utf8_path.h"
#include "tools/fwpack/manifest/flag_names.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "platform/builder_files.h"
#include "tools/fwpack/manifest/name_rules.h"
#include "tools/fwpack/manifest/printable_text.h"

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
    return Utf8String(NormalPath(path.is_absolute() || IsNetworkPath(path) ? path : base / path));
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

// The file parsed as TOML; a syntax error names its line and column.
bool ParseToml(const std::string &path, toml::table &root, std::string &error) {
    std::error_code ec;
    if (!fs::is_regular_file(Utf8Path(path), ec)) {
        error = path + ": " + (fs::exists(Utf8Path(path), ec) ? "not a file" : "no such file");
        return false;
    }
    // Read here rather than by the parser, so that any path the file layer
    // opens (non-ASCII names on Windows) is a manifest path.
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, text, error)) return false;
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
    return true;
}

// Characters of UTF-8 text: every byte but the continuation bytes.
size_t Utf8Characters(const std::string &text) {
    size_t n = 0;
    for (unsigned char b : text) n += (b & 0xC0) != 0x80;
    return n;
}

bool ReadOptions(Checker &c, const toml::table &root, Manifest &out) {
    const toml::table *opt = Section(c, root, "options", false);
    if (!opt) return !c.Failed();
    if (!KnownKeys(c, *opt, "options.", {"flags", "id_string"})) return false;
    if (const toml::node *f = opt->get("flags"); f && !ReadFlags(c, *f, out.Flags)) return false;
    if (!String(c, *opt, "options", "id_string", false, out.IdString)) return false;
    // The field holds bytes; the user counts characters: say both.
    if (out.IdString.size() >= kIdStringSize)
        return c.Fail("options.id_string", "is " + std::to_string(Utf8Characters(out.IdString)) +
                                               " characters, " + std::to_string(out.IdString.size()) +
                                               " bytes of UTF-8; at most " +
                                               std::to_string(kIdStringSize - 1) + " bytes fit");
    return true;
}

bool ReadWindows(Checker &c, const toml::table &root, const fs::path &base, Manifest &out) {
    const toml::table *win = Section(c, root, "windows", true);
    std::string tools;
    if (!win || !KnownKeys(c, *win, "windows.", {"tools", "flash_program", "me_flash_program"}) ||
        !String(c, *win, "windows", "tools", true, tools) ||
        !String(c, *win, "windows", "flash_program", false, out.FlashProgram) ||
        !String(c, *win, "windows", "me_flash_program", false, out.MeFlashProgram) ||
        !ProgramName(c, "windows.flash_program", out.FlashProgram, true) ||
        !ProgramName(c, "windows.me_flash_program", out.MeFlashProgram, true))
        return false;
    out.WindowsTools = Resolve(base, tools);
    return true;
}

// [dos] or [uefi]: a tools folder and the three programs the DOS updater's
// logic runs, all required, each a file of that folder.
struct ToolSection {
    const char *Name;
    bool &Present;
    std::string &Tools, &FlashProgram, &MeQueryTool, &MeUpdateTool;
};

bool ReadToolSection(Checker &c, const toml::table &root, const fs::path &base, const ToolSection &s) {
    const toml::table *t = Section(c, root, s.Name, false);
    if (!t) return !c.Failed();
    s.Present = true;
    const std::string name = s.Name;
    std::string tools;
    if (!KnownKeys(c, *t, name + ".", {"tools", "flash_program", "me_query_tool", "me_update_tool"}) ||
        !String(c, *t, name, "tools", true, tools))
        return false;
    for (const auto &[key, value] : {std::pair{"flash_program", &s.FlashProgram},
                                     {"me_query_tool", &s.MeQueryTool},
                                     {"me_update_tool", &s.MeUpdateTool}})
        if (!String(c, *t, name, key, true, *value) ||
            !ProgramName(c, name + "." + key, *value, false))
            return false;
    s.Tools = Resolve(base, tools);
    return true;
}

bool ReadDos(Checker &c, const toml::table &root, const fs::path &base, Manifest &out) {
    return ReadToolSection(c, root, base,
                           {"dos", out.HasDos, out.DosTools, out.DosFlashProgram,
                            out.DosMeQueryTool, out.DosMeUpdateTool});
}

// The UEFI shell starts an EFI application or runs a script; a name
// without one of those extensions would not run there.
bool ReadUefi(Checker &c, const toml::table &root, const fs::path &base, Manifest &out) {
    if (!ReadToolSection(c, root, base,
                         {"uefi", out.HasUefi, out.UefiTools, out.UefiFlashProgram,
                          out.UefiMeQueryTool, out.UefiMeUpdateTool}))
        return false;
    for (const auto &[key, value] : {std::pair{"uefi.flash_program", &out.UefiFlashProgram},
                                     {"uefi.me_query_tool", &out.UefiMeQueryTool},
                                     {"uefi.me_update_tool", &out.UefiMeUpdateTool}})
        if (out.HasUefi && !IsUefiProgramName(*value))
            return c.Fail(key, Quoted(*value) + " " + UefiProgramRule());
    return true;
}

// [bios] or [me]: one non-empty image path.
bool ReadImage(Checker &c, const toml::table &root, const fs::path &base, const char *section,
               std::string &out) {
    const std::string key = std::string(section) + ".image";
    const toml::table *t = Section(c, root, section, true);
    std::string image;
    if (!t || !KnownKeys(c, *t, std::string(section) + ".", {"image"}) ||
        !String(c, *t, section, "image", true, image))
        return false;
    if (image.empty()) return c.Fail(key, "must not be empty");
    out = Resolve(base, image);
    return true;
}

// The signer's pieces that may stand together: pkcs12 alone, or cert with
// one of key and pkcs11.
bool CheckSigners(Checker &c, const std::string &cert, const std::string &key,
                  const std::string &pkcs12, const std::string &pkcs11) {
    if (!pkcs12.empty() && (!cert.empty() || !key.empty() || !pkcs11.empty()))
        return c.Fail("signing.pkcs12", "give either pkcs12 or cert with key (or pkcs11), not both");
    if (!key.empty() && !pkcs11.empty())
        return c.Fail("signing.pkcs11", "give either key or pkcs11, not both");
    // A section that names nobody must not build an unsigned package.
    if (pkcs12.empty() && cert.empty() && key.empty() && pkcs11.empty())
        return c.Fail("signing", "names no signer: give cert with key (or pkcs11), or pkcs12");
    if (pkcs12.empty() && cert.empty() != (key.empty() && pkcs11.empty()))
        return c.Fail(cert.empty() ? "signing.cert" : "signing.key", "required key is missing");
    return true;
}

// A file of the signer, or a pkcs11: URI, which stays as written.
std::string SignerSource(const fs::path &base, const std::string &value) {
    return value.rfind("pkcs11:", 0) == 0 ? value : Resolve(base, value);
}

// [signing] (optional): a PKCS#12 file, or a certificate with its key (a
// file, or a key on a PKCS#11 token).
bool ReadSigning(Checker &c, const toml::table &root, const fs::path &base, Manifest &out) {
    const toml::table *sign = Section(c, root, "signing", false);
    if (!sign) return !c.Failed();
    std::string cert, key, pkcs12, module;
    if (!KnownKeys(c, *sign, "signing.", {"cert", "key", "pkcs12", "pkcs11", "pkcs11_module", "timestamp_url"}) ||
        !String(c, *sign, "signing", "cert", false, cert) ||
        !String(c, *sign, "signing", "key", false, key) ||
        !String(c, *sign, "signing", "pkcs12", false, pkcs12) ||
        !String(c, *sign, "signing", "pkcs11", false, out.SignPkcs11) ||
        !String(c, *sign, "signing", "pkcs11_module", false, module) ||
        !String(c, *sign, "signing", "timestamp_url", false, out.TimestampUrl) ||
        !CheckSigners(c, cert, key, pkcs12, out.SignPkcs11))
        return false;
    if (!module.empty() && out.SignPkcs11.empty())
        return c.Fail("signing.pkcs11_module", "applies only with pkcs11");
    if (!cert.empty()) out.SignCert = SignerSource(base, cert);
    if (!key.empty()) out.SignKey = Resolve(base, key);
    if (!pkcs12.empty()) out.SignPkcs12 = Resolve(base, pkcs12);
    if (!module.empty()) out.SignPkcs11Module = Resolve(base, module);
    return true;
}

}  // namespace

bool LoadManifest(const std::string &path, Manifest &out, std::string &error) {
    out = Manifest{};
    out.Path = path;
    toml::table root;
    if (!ParseToml(path, root, error)) return false;
    Checker c(path, error);
    fs::path base = Utf8Path(path).parent_path();
    if (base.empty()) base = ".";
    return KnownKeys(c, root, "", {"options", "windows", "dos", "uefi", "bios", "me", "signing"}) &&
           ReadOptions(c, root, out) && ReadWindows(c, root, base, out) &&
           ReadDos(c, root, base, out) && ReadUefi(c, root, base, out) && ReadImage(c, root, base, "bios", out.BiosImage) &&
           ReadImage(c, root, base, "me", out.MeImage) && ReadSigning(c, root, base, out);
}

}  // namespace fwpack
