// Package .exe files read by independent readers: MinGW objdump, icoutils'
// wrestool, and the Windows resource loader as Wine implements it
// (resprobe.exe calls FindResourceA, SizeofResource, LoadResource and
// LockResource and prints what it finds). Also the Windows program's own
// resources (dialog 102, icons, version, manifest) as compiled.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/image.h"
#include "tools/fwpack/authenticode/sign.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/pe/image.h"

namespace fs = std::filesystem;
using namespace fwpack;

namespace {

const fs::path kWin64 = FWPACK_WIN64_DIR;
const fs::path kWork = PE_E2E_WORK_DIR;
const fs::path kPrefix = kWork / "wineprefix";

std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Output {
    int status = -1;
    std::string out, err;
};

// Runs a shell command, collecting its standard output and error.
Output Shell(const std::string &command) {
    Output r;
    fs::create_directories(kWork);
    const fs::path errFile = kWork / ("stderr-" + std::to_string(::getpid()));
    FILE *p = ::popen((command + " 2>" + Quote(errFile.string())).c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(err), {});
    fs::remove(errFile);
    return r;
}

std::string WineEnv() {
    return "env -u DISPLAY WINEPREFIX=" + Quote(kPrefix.string()) + " WINEDEBUG=-all ";
}

// Runs a Windows program under wine64 in this suite's own prefix.
Output Wine(const fs::path &exe, const std::string &args = "") {
    return Shell(WineEnv() + "/usr/lib/wine/wine64 " + Quote(exe.string()) + " " + args);
}

std::string WindowsPath(const fs::path &p) {
    std::string s = "Z:" + fs::absolute(p).string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::vector<uint8_t> ReadAll(const fs::path &p) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(ReadWholeFile(p.string(), bytes, error)) << error;
    return bytes;
}

ResourceSet SampleSet() {
    ResourceSet set;
    for (uint16_t id = 2000; id <= 2004; ++id) {
        std::vector<uint8_t> bytes(size_t(id - 1990) * 997);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 31 + id);
        set[id] = bytes;
    }
    return set;
}

unsigned Fnv1a(const std::vector<uint8_t> &bytes) {
    unsigned h = 2166136261u;
    for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

std::string ProbeLine(uint16_t id, const std::vector<uint8_t> &bytes) {
    char line[96];
    std::snprintf(line, sizeof line, "SETUP %u size=%zu fnv=%08X en-us=yes", id, bytes.size(), Fnv1a(bytes));
    return line;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// wrestool -l: "--type=T --name=N --language=L [... size=S]" -> S by "T N L".
std::map<std::string, unsigned long> WrestoolList(const fs::path &exe) {
    Output r = Shell("wrestool -l " + Quote(exe.string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::map<std::string, unsigned long> out;
    std::regex re(R"(--type=(\S+) --name=(\S+) --language=(\d+) \[.*size=(\d+)\])");
    for (const std::string &line : Lines(r.out)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, re)) << line;
        if (!m.empty()) out[m[1].str() + " " + m[2].str() + " " + m[3].str()] = std::stoul(m[4].str());
    }
    return out;
}

std::vector<uint8_t> WrestoolExtract(const fs::path &exe, const std::string &type, const std::string &name) {
    Output r = Shell("wrestool -x --raw --type=" + type + " --name=" + name + " " + Quote(exe.string()));
    EXPECT_EQ(r.status, 0) << r.err;
    return {r.out.begin(), r.out.end()};
}

class PackageReaders : public ::testing::Test {
  protected:
    void SetUp() override {
        probe_ = kWin64 / "resprobe.exe";
        ASSERT_TRUE(fs::exists(probe_)) << probe_ << " is missing: build the win64 preset first";
        dir_ = kWork / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        package_ = dir_ / "probe_package.exe";
        std::string error;
        ASSERT_TRUE(WritePePackage(probe_.string(), SampleSet(), package_.string(), false, error)) << error;
    }
    void TearDown() override {
        if (usedWine_) Shell(WineEnv() + "/usr/lib/wine/wineserver -k");
    }
    Output WineRun(const fs::path &exe, const std::string &args = "") {
        usedWine_ = true;
        return Wine(exe, args);
    }
    fs::path probe_, dir_, package_;
    bool usedWine_ = false;
};

}  // namespace

TEST_F(PackageReaders, ObjdumpReadsHeadersAndResourceDirectory) {
    Output r = Shell("x86_64-w64-mingw32-objdump -h -p " + Quote(package_.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("orrupt"), std::string::npos);

    // The last section is .rsrc, and the resource directory entry points at it.
    std::smatch m;
    std::regex section(R"(\n\s*\d+ (\S+)\s+([0-9a-f]{8})\s+([0-9a-f]{16}))");
    std::string lastName, lastVma;
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), section); it != std::sregex_iterator(); ++it) {
        lastName = (*it)[1];
        lastVma = (*it)[3];
    }
    EXPECT_EQ(lastName, ".rsrc");
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(ImageBase\s+([0-9a-f]+))")));
    uint64_t imageBase = std::stoull(m[1].str(), nullptr, 16);
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(Entry 2 ([0-9a-f]+) ([0-9a-f]+) Resource Directory \[\.rsrc\])")));
    EXPECT_EQ(std::stoull(m[1].str(), nullptr, 16) + imageBase, std::stoull(lastVma, nullptr, 16));

    // The checksum it shows is the one the file's bytes give.
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(CheckSum\s+([0-9a-f]+))")));
    std::vector<uint8_t> bytes = ReadAll(package_);
    size_t at = ReadU32(bytes.data() + 0x3c) + 24 + pe_opt::CheckSum;
    EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), ComputePeChecksum(bytes, at));

    // Its dump of the resource directory: the SETUP type, and for each id
    // a language 0x409 leaf of the right size.
    EXPECT_NE(r.out.find("]: SETUP,"), std::string::npos);
    for (const auto &[id, data] : SampleSet()) {
        char idText[32];
        std::snprintf(idText, sizeof idText, "Entry: ID: 0x%06x,", id);
        size_t pos = r.out.find(idText);
        ASSERT_NE(pos, std::string::npos) << idText;
        ASSERT_TRUE(std::regex_search(r.out.cbegin() + long(pos), r.out.cend(), m,
                                      std::regex(R"(Entry: ID: 0x000409,[^\n]*\n\s*\S+\s+Leaf: Addr: 0x[0-9a-f]+, Size: 0x([0-9a-f]+))")));
        EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), data.size()) << id;
    }
}

TEST_F(PackageReaders, WrestoolListsAndExtractsEveryResource) {
    std::map<std::string, unsigned long> stub = WrestoolList(probe_), package = WrestoolList(package_);
    ASSERT_FALSE(stub.empty());
    std::map<std::string, unsigned long> expected = stub;
    for (const auto &[id, data] : SampleSet()) expected["'SETUP' " + std::to_string(id) + " 1033"] = data.size();
    EXPECT_EQ(package, expected);

    for (const auto &[id, data] : SampleSet())
        EXPECT_EQ(WrestoolExtract(package_, "SETUP", std::to_string(id)), data) << id;
    for (const char *type : {"5", "14", "16", "24"}) {
        for (const auto &[key, size] : stub) {
            std::istringstream in(key);
            std::string t, n;
            in >> t >> n;
            if (t != type) continue;
            EXPECT_EQ(WrestoolExtract(package_, t, n), WrestoolExtract(probe_, t, n)) << key;
        }
    }
}

TEST_F(PackageReaders, WineFindsTheSetupResourcesAndKeepsTheStubs) {
    Output stub = WineRun(probe_);
    Output package = WineRun(package_);
    EXPECT_EQ(stub.status, 1) << stub.out;   // the bare stub has no SETUP resources
    ASSERT_EQ(package.status, 0) << package.out << package.err;

    std::vector<std::string> expected;
    for (const auto &[id, data] : SampleSet()) expected.push_back(ProbeLine(id, data));
    for (const std::string &line : Lines(stub.out)) {
        if (line.rfind("SETUP ", 0) == 0) EXPECT_NE(line.find(" missing"), std::string::npos) << line;
        else expected.push_back(line);
    }
    EXPECT_EQ(Lines(package.out), expected);
    EXPECT_EQ(expected.size(), 11u);   // five SETUP, dialog, three icons, version, manifest
}

TEST_F(PackageReaders, FwpackBuildMakesARunnablePackageAndRefusesToDoItTwice) {
    const std::string tool = Quote(FWPACK_TOOL);
    const std::string manifest = Quote(std::string(FWPACK_SOURCE_DIR) + "/examples/sample/package.toml");
    const fs::path built = dir_ / "sample.exe", again = dir_ / "again.exe";
    Output r = Shell(tool + " build " + manifest + " --stub " + Quote(probe_.string()) + " -o " + Quote(built.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    r = Shell(tool + " verify " + Quote(built.string()));
    EXPECT_EQ(r.status, 0) << r.out << r.err;

    r = Shell(tool + " build " + manifest + " --stub " + Quote(built.string()) + " -o " + Quote(again.string()));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("SETUP"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(again));
    r = Shell(tool + " build " + manifest + " --stub " + Quote(built.string()) + " -o " + Quote(again.string()) +
            " --replace");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(again), ReadAll(built));

    ResourceSet set;
    std::string error;
    ASSERT_TRUE(ReadPeResources(ReadAll(built), set, error)) << error;
    ASSERT_EQ(set.size(), 5u);
    Output run = WineRun(built);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 5u);
    size_t i = 0;
    for (const auto &[id, data] : set) EXPECT_EQ(lines[i++], ProbeLine(id, data));
}

// A signed package: the signature is one more thing behind the sections,
// and every reader still finds what it found before.
TEST_F(PackageReaders, EveryReaderReadsASignedPackageAsBefore) {
    const fs::path pki = dir_ / "pki";
    Output r = Shell(Quote(std::string(FWPACK_SOURCE_DIR) + "/tests/signing/make_pki.sh") + " " + Quote(pki.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    SigningRequest request;
    request.Cert = (pki / "chain.pem").string();
    request.Key = (pki / "leaf.key").string();
    SigningIdentity id;
    std::string error;
    ASSERT_TRUE(LoadSigningIdentity(request, id, error)) << error;
    std::vector<uint8_t> bytes = ReadAll(package_);
    ASSERT_TRUE(SignPeImage(bytes, id, "", error)) << error;
    const fs::path signedExe = dir_ / "signed.exe";
    std::string written;
    ASSERT_TRUE(WriteFileAtomically(signedExe.string(), bytes, written)) << written;
    SignatureSpan span;
    ASSERT_TRUE(LocateSignature(bytes, span, error)) << error;

    // objdump: the certificate table where we put it, the checksum ours.
    r = Shell("x86_64-w64-mingw32-objdump -p " + Quote(signedExe.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("orrupt"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(Entry 4 ([0-9a-f]+) ([0-9a-f]+) Security Directory)")));
    EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), span.TableOffset);
    EXPECT_EQ(std::stoul(m[2].str(), nullptr, 16), span.TableSize);
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(CheckSum\s+([0-9a-f]+))")));
    EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), ComputePeChecksum(bytes, span.ChecksumOffset));

    // wrestool and Wine's resource loader: the same as for the unsigned package.
    EXPECT_EQ(WrestoolList(signedExe), WrestoolList(package_));
    for (const auto &[resource, data] : SampleSet())
        EXPECT_EQ(WrestoolExtract(signedExe, "SETUP", std::to_string(resource)), data) << resource;
    Output plain = WineRun(package_), withSignature = WineRun(signedExe);
    ASSERT_EQ(withSignature.status, 0) << withSignature.out << withSignature.err;
    EXPECT_EQ(Lines(withSignature.out), Lines(plain.out));
}

// ---------------------------------------------------------------- the Windows program

namespace {

struct DialogItem {
    uint32_t Id, Style, ExStyle;
    int16_t X, Y, Cx, Cy;
    std::string Class, Text;   // Class: "button", "edit", "static" for the atoms
};

struct Dialog {
    uint32_t Style = 0, ExStyle = 0;
    int16_t X = 0, Y = 0, Cx = 0, Cy = 0;
    std::string Menu, Class, Title, Face;
    uint16_t Points = 0, Weight = 0;
    uint8_t Italic = 0, Charset = 0;
    std::vector<DialogItem> Items;
};

// An extended dialog template (DLGTEMPLATEEX and DLGITEMTEMPLATEEX).
struct TemplateReader {
    const std::vector<uint8_t> &b;
    size_t p = 0;
    bool ok = true;
    uint16_t U16() {
        if (p + 2 > b.size()) { ok = false; return 0; }
        uint16_t v = ReadU16(b.data() + p);
        p += 2;
        return v;
    }
    uint32_t U32() { uint32_t lo = U16(); return lo | uint32_t(U16()) << 16; }
    uint8_t U8() {
        if (p >= b.size()) { ok = false; return 0; }
        return b[p++];
    }
    std::string Text() {
        std::string s;
        for (uint16_t c; ok && (c = U16()) != 0;) s.push_back(c < 0x80 ? char(c) : '?');
        return s;
    }
    std::string TextOrAtom() {
        if (p + 2 <= b.size() && ReadU16(b.data() + p) == 0xffff) {
            p += 2;
            switch (uint16_t atom = U16()) {
            case 0x80: return "button";
            case 0x81: return "edit";
            case 0x82: return "static";
            default: return "#" + std::to_string(atom);
            }
        }
        return Text();
    }
};

bool ParseDialogEx(const std::vector<uint8_t> &bytes, Dialog &d) {
    TemplateReader r{bytes};
    if (r.U16() != 1 || r.U16() != 0xffff) return false;
    r.U32();   // help id
    d.ExStyle = r.U32();
    d.Style = r.U32();
    uint16_t count = r.U16();
    d.X = int16_t(r.U16()); d.Y = int16_t(r.U16()); d.Cx = int16_t(r.U16()); d.Cy = int16_t(r.U16());
    d.Menu = r.TextOrAtom();
    d.Class = r.TextOrAtom();
    d.Title = r.Text();
    d.Points = r.U16();
    d.Weight = r.U16();
    d.Italic = r.U8();
    d.Charset = r.U8();
    d.Face = r.Text();
    for (uint16_t i = 0; i < count && r.ok; ++i) {
        r.p = (r.p + 3) & ~size_t(3);
        DialogItem it{};
        r.U32();   // help id
        it.ExStyle = r.U32();
        it.Style = r.U32();
        it.X = int16_t(r.U16()); it.Y = int16_t(r.U16()); it.Cx = int16_t(r.U16()); it.Cy = int16_t(r.U16());
        it.Id = r.U32();
        it.Class = r.TextOrAtom();
        it.Text = r.TextOrAtom();
        r.p += r.U16();   // creation data
        d.Items.push_back(it);
    }
    return r.ok;
}

std::string Lower(std::string s) {
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Widths of the images a group icon lists, in order.
std::vector<int> GroupIconSizes(const std::vector<uint8_t> &group) {
    std::vector<int> sizes;
    if (group.size() < 6 || ReadU16(group.data() + 2) != 1) return sizes;
    uint16_t count = ReadU16(group.data() + 4);
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) {
        int w = group[6 + 14 * i], h = group[6 + 14 * i + 1];
        sizes.push_back(w == h ? (w ? w : 256) : -1);
    }
    return sizes;
}

bool ContainsUtf16(const std::vector<uint8_t> &bytes, const std::string &text) {
    std::vector<uint8_t> wide;
    for (char c : text) { wide.push_back(uint8_t(c)); wide.push_back(0); }
    return std::search(bytes.begin(), bytes.end(), wide.begin(), wide.end()) != bytes.end();
}

bool Contains(const std::vector<uint8_t> &bytes, const std::string &text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// The compiled resources of a program built with win/updater.rc.
void ExpectProgramResources(const fs::path &exe) {
    SCOPED_TRACE(exe.string());
    Dialog d;
    ASSERT_TRUE(ParseDialogEx(WrestoolExtract(exe, "5", "102"), d));
    EXPECT_EQ(d.Style, 0x90C800C0u);
    EXPECT_EQ(d.ExStyle, 0x00040000u);
    EXPECT_EQ(std::make_tuple(d.X, d.Y, d.Cx, d.Cy), std::make_tuple(0, 0, 251, 145));
    EXPECT_EQ(d.Menu, "");
    EXPECT_EQ(d.Class, "");
    EXPECT_EQ(d.Title, "Brenvik");
    EXPECT_EQ(d.Face, "MS Sans Serif");
    EXPECT_EQ(d.Points, 8);
    EXPECT_EQ(d.Weight, 0);
    EXPECT_EQ(d.Italic, 0);
    EXPECT_EQ(d.Charset, 1);   // DEFAULT_CHARSET

    const uint32_t child = 0x50000000;   // WS_CHILD | WS_VISIBLE
    const uint32_t tab = 0x00010000, group = 0x00020000, disabled = 0x08000000, border = 0x00800000;
    const std::vector<DialogItem> expected = {
        {1000, child | tab | 0x1 /*BS_DEFPUSHBUTTON*/, 0, 50, 92, 50, 14, "button", "GO..."},
        {1001, child | tab | disabled, 0, 150, 92, 50, 14, "button", "Cancel"},
        {1002, child | tab | 0x40 /*BS_ICON*/, 0, 219, 44, 18, 14, "button", ""},
        {1003, child | 0x1 /*PBS_SMOOTH*/, 0, 13, 70, 194, 14, "msctls_progress32", ""},
        {1004, child | group, 0, 13, 30, 177, 8, "static", "Please wait,  Extracting...."},
        {1005, child | group, 0, 13, 14, 194, 8, "static", "Extract Files Here:"},
        {1006, child | border | tab | 0x80 /*ES_AUTOHSCROLL*/, 0, 13, 44, 195, 14, "edit", ""},
        {1008, child | group, 0, 221, 74, 17, 8, "static", "100%"},
        {1009, child | group, 0, 15, 13, 211, 8, "static", "."},
        {0xffffffffu, child | group, 0, 55, 120, 158, 8, "static", ""},
    };
    ASSERT_EQ(d.Items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const DialogItem &a = d.Items[i], &e = expected[i];
        SCOPED_TRACE("control " + std::to_string(int32_t(e.Id)));
        EXPECT_EQ(a.Id, e.Id);
        EXPECT_EQ(a.Style, e.Style);
        EXPECT_EQ(a.ExStyle, e.ExStyle);
        EXPECT_EQ(std::make_tuple(a.X, a.Y, a.Cx, a.Cy), std::make_tuple(e.X, e.Y, e.Cx, e.Cy));
        // Window class names are matched without regard to case.
        EXPECT_EQ(Lower(a.Class), e.Class);
        if (e.Id == 0xffffffffu) EXPECT_FALSE(a.Text.empty());   // the notice: a text of our own
        else EXPECT_EQ(a.Text, e.Text);
    }

    EXPECT_EQ(GroupIconSizes(WrestoolExtract(exe, "14", "128")), (std::vector<int>{32, 16}));
    EXPECT_EQ(GroupIconSizes(WrestoolExtract(exe, "14", "131")), (std::vector<int>{16, 32}));
    EXPECT_EQ(GroupIconSizes(WrestoolExtract(exe, "14", "132")), (std::vector<int>{16}));

    std::vector<uint8_t> version = WrestoolExtract(exe, "16", "1");
    for (const char *text : {"VS_VERSION_INFO", "Windows XP", "Windows Vista", "Windows 7",
                             FWPACK_VERSION_TEXT})
        EXPECT_TRUE(ContainsUtf16(version, text)) << text;
    // The fixed part after its signature: structure version, then the file
    // and the product version, each as two 32-bit halves.
    const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto fixed = std::search(version.begin(), version.end(), std::begin(signature), std::end(signature));
    ASSERT_LE(fixed + 24, version.end()) << "no VS_FIXEDFILEINFO";
    const size_t at = size_t(fixed - version.begin());
    const uint32_t ms = uint32_t(FWPACK_VERSION_MAJOR) << 16 | FWPACK_VERSION_MINOR;
    const uint32_t ls = uint32_t(FWPACK_VERSION_PATCH) << 16 | FWPACK_VERSION_TWEAK;
    EXPECT_EQ(std::make_pair(ReadU32(&version[at + 8]), ReadU32(&version[at + 12])),
              std::make_pair(ms, ls)) << "file version";
    EXPECT_EQ(std::make_pair(ReadU32(&version[at + 16]), ReadU32(&version[at + 20])),
              std::make_pair(ms, ls)) << "product version";

    std::vector<uint8_t> manifest = WrestoolExtract(exe, "24", "1");
    for (const char *text : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "{e2011457-1546-43c5-a5fe-008deee3d3f0}",   // Vista
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   // 7
                             "level=\"asInvoker\""})
        EXPECT_TRUE(Contains(manifest, text)) << text;
}

}  // namespace

TEST(WindowsProgramResources, CompiledAsLaidOut) {
    const fs::path probe = kWin64 / "resprobe.exe";
    ASSERT_TRUE(fs::exists(probe)) << probe << " is missing: build the win64 preset first";
    ExpectProgramResources(probe);
}

TEST_F(PackageReaders, UpdaterPackageKeepsTheProgramsResources) {
    const fs::path updater = kWin64 / "updater.exe";
    ASSERT_TRUE(fs::exists(updater)) << updater << " is missing: build the win64 preset first";
    const fs::path package = dir_ / "updater_package.exe";
    std::string error;
    ASSERT_TRUE(WritePePackage(updater.string(), SampleSet(), package.string(), false, error)) << error;
    ExpectProgramResources(updater);
    ExpectProgramResources(package);

    // The loader sees the same program resources in both, and the payload
    // only in the package.
    Output stub = WineRun(probe_, "--module " + Quote(WindowsPath(updater)));
    Output built = WineRun(probe_, "--module " + Quote(WindowsPath(package)));
    EXPECT_EQ(stub.status, 1) << stub.out;
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    std::vector<std::string> expected;
    for (const auto &[id, data] : SampleSet()) expected.push_back(ProbeLine(id, data));
    for (const std::string &line : Lines(stub.out))
        if (line.rfind("SETUP ", 0) != 0) expected.push_back(line);
    EXPECT_EQ(Lines(built.out), expected);
}
