// Bad manifests and bad usage: exit code 2, exactly one line on stderr that
// names the key and the problem, and nothing written.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_tool_support.h"
#include "tools/fwpack/manifest/printable_text.h"

using namespace fwpack::test;
using fwpack::Quoted;
namespace fs = std::filesystem;

namespace {

const std::string kGood = R"([options]
flags = ["show-window", "no-reboot"]
id_string = "$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001"
[windows]
tools = "win"
flash_program = "flash.exe"
me_flash_program = "meflash.exe"
[dos]
tools = "dos"
flash_program = "dosflash.exe"
me_query_tool = "meinfo.exe"
me_update_tool = "meupd.exe"
[bios]
image = "bios.bin"
[me]
image = "me.bin"
)";

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    size_t at = text.find(from);
    if (at == std::string::npos)
        ADD_FAILURE() << "no " << from << " in the manifest";
    else
        text.replace(at, from.size(), to);
    return text;
}

class BadManifest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string sample, out;

    void SetUp() override {
        sample = dir / "sample";
        out = dir / "out";
        fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample,
                 fs::copy_options::recursive);
    }

    // Builds text as the manifest; expects the one-line refusal that holds
    // every piece of want, and no output at all.
    void ExpectRefused(const std::string &text, const std::vector<std::string> &want) {
        std::string manifest = sample + "/package.toml";
        WriteBytes(manifest, {text.begin(), text.end()});
        RunResult r = Fwpack({"build", manifest, "--resources-dir", out});
        EXPECT_EQ(r.Code, 2);
        EXPECT_EQ(r.Out, "");
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        for (const auto &w : want)
            EXPECT_NE(r.Err.find(w), std::string::npos) << "want " << w << " in " << r.Err;
        EXPECT_FALSE(fs::exists(out)) << "output folder was created";
    }
};

TEST_F(BadManifest, TheGoodManifestBuilds) {
    std::string manifest = sample + "/package.toml";
    WriteBytes(manifest, {kGood.begin(), kGood.end()});
    RunResult r = Fwpack({"build", manifest, "--resources-dir", out});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(FilesBelow(out).size(), 5u);
}

TEST_F(BadManifest, UnknownKeysWrongTypesAndMissingParts) {
    ExpectRefused(kGood + "[extra]\n", {"extra: unknown key"});
    ExpectRefused(Replace(kGood, "tools = \"win\"", "tools = \"win\"\ntool = \"x\""),
                  {"windows.tool: unknown key"});
    ExpectRefused(Replace(kGood, "image = \"me.bin\"", "image = \"me.bin\"\nversion = 3"),
                  {"me.version: unknown key"});
    ExpectRefused(Replace(kGood, "tools = \"win\"", "tools = 3"),
                  {"windows.tools", "must be a string"});
    ExpectRefused(
        Replace(kGood, "flags = [\"show-window\", \"no-reboot\"]", "flags = \"show-window\""),
        {"options.flags", "list of flag names or a number"});
    ExpectRefused(Replace(kGood, "flags = [\"show-window\", \"no-reboot\"]", "flags = [1]"),
                  {"options.flags", "flag name"});
    ExpectRefused(Replace(kGood, "flags = [\"show-window\", \"no-reboot\"]", "flags = -1"),
                  {"options.flags", "out of range"});
    ExpectRefused(
        Replace(kGood, "id_string = \"$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001\"", "id_string = 7"),
        {"options.id_string", "must be a string"});
    ExpectRefused(Replace(kGood, "[bios]\nimage = \"bios.bin\"\n", ""), {"[bios]", "missing"});
    ExpectRefused("bios = \"bios.bin\"\n" + Replace(kGood, "[bios]\nimage = \"bios.bin\"\n", ""),
                  {"bios", "must be a section"});
    ExpectRefused(Replace(kGood, "[windows]\ntools = \"win\"", "[windows]"),
                  {"windows.tools", "missing"});
    ExpectRefused(Replace(kGood, "me_update_tool = \"meupd.exe\"\n", ""),
                  {"dos.me_update_tool", "missing"});
    ExpectRefused(Replace(kGood, "[me]\nimage = \"me.bin\"", "[me]\nimage = \"\""),
                  {"me.image", "empty"});
    ExpectRefused("[windows\ntools = \"win\"\n", {"package.toml:1:"});
}

TEST_F(BadManifest, FlagNamesAndIdString) {
    ExpectRefused(Replace(kGood, "\"no-reboot\"", "\"no-rebot\""),
                  {"options.flags", "unknown flag name \"no-rebot\""});
    ExpectRefused(Replace(kGood, "$0001\"", "$0001" + std::string(128 - 40, 'x') + "\""),
                  {"options.id_string", "128 characters, 128 bytes", "127"});
    // 64 two-byte characters fill 128 bytes.
    std::string umlauts;
    for (int i = 0; i < 64; ++i) umlauts += "\xc3\xbc";
    ExpectRefused(Replace(kGood, "$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001", umlauts),
                  {"options.id_string", "64 characters, 128 bytes of UTF-8; at most 127 bytes fit"});
}

TEST_F(BadManifest, ProgramNames) {
    ExpectRefused(
        Replace(kGood, "flash_program = \"flash.exe\"", "flash_program = \"sub/flash.exe\""),
        {"windows.flash_program", "\"sub/flash.exe\"", "bare"});
    ExpectRefused(Replace(kGood, "me_query_tool = \"meinfo.exe\"", "me_query_tool = \"..\""),
                  {"dos.me_query_tool", "bare"});
    ExpectRefused(
        Replace(kGood, "flash_program = \"dosflash.exe\"", "flash_program = \"c:flash.exe\""),
        {"dos.flash_program", "bare"});
    ExpectRefused(Replace(kGood, "flash_program = \"flash.exe\"",
                          "flash_program = \"" + std::string(260, 'f') + "\""),
                  {"windows.flash_program", "260 bytes", "259"});
    ExpectRefused(
        Replace(kGood, "me_flash_program = \"meflash.exe\"", "me_flash_program = \"nothere.exe\""),
        {"windows.me_flash_program", "\"nothere.exe\"", "not a file of the tools folder"});
    ExpectRefused(
        Replace(kGood, "me_update_tool = \"meupd.exe\"", "me_update_tool = \"MEUPD.EXE\""),
        {"dos.me_update_tool", "not a file of the tools folder"});
    // A program of the other folder does not count.
    ExpectRefused(
        Replace(kGood, "flash_program = \"dosflash.exe\"", "flash_program = \"flash.exe\""),
        {"dos.flash_program", "not a file of the tools folder"});
}

TEST_F(BadManifest, ToolFoldersAndImages) {
    WriteBytes(sample + "/empty.bin", {});
    ExpectRefused(Replace(kGood, "image = \"bios.bin\"", "image = \"nothere.bin\""),
                  {"bios.image", "nothere.bin"});
    ExpectRefused(Replace(kGood, "image = \"me.bin\"", "image = \"empty.bin\""),
                  {"me.image", "empty"});
    ExpectRefused(Replace(kGood, "image = \"bios.bin\"", "image = \"win\""), {"bios.image", "win"});
    ExpectRefused(Replace(kGood, "tools = \"dos\"", "tools = \"nothere\""),
                  {"dos.tools", "not a folder"});

    // 20 characters: too long for the DOS updater's buffer, fine without [dos].
    fs::copy_file(sample + "/me.bin", sample + "/management-img20.bin");
    std::string longMe = Replace(kGood, "image = \"me.bin\"", "image = \"management-img20.bin\"");
    ExpectRefused(longMe, {"me.image", "\"management-img20.bin\" is 20 characters", "at most 19"});
    std::string noDos =
        longMe.substr(0, longMe.find("[dos]")) + longMe.substr(longMe.find("[bios]"));
    std::string manifest = sample + "/package.toml";
    WriteBytes(manifest, {noDos.begin(), noDos.end()});
    EXPECT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 0);
    fs::remove_all(out);

    // DOS creates only 8.3 names: with [dos], its tools and both images must
    // have one; the Windows tools need not.
    fs::copy_file(sample + "/bios.bin", sample + "/bios.rom1");
    std::string longExtension = Replace(kGood, "image = \"bios.bin\"", "image = \"bios.rom1\"");
    ExpectRefused(longExtension, {"bios.image", "\"bios.rom1\" is not a DOS 8.3 name"});
    noDos = longExtension.substr(0, longExtension.find("[dos]")) +
            longExtension.substr(longExtension.find("[bios]"));
    WriteBytes(manifest, {noDos.begin(), noDos.end()});
    EXPECT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 0);
    fs::remove_all(out);
    for (const char *name : {"flashtool.exe", "two.dots.exe", "a b.exe"}) {
        WriteBytes(sample + "/dos/" + name, {'x'});
        ExpectRefused(kGood, {"dos.tools", "\"" + std::string(name) + "\" is not a DOS 8.3 name"});
        fs::remove(sample + "/dos/" + name);
    }
    WriteBytes(sample + "/win/flashtool-for-windows.exe", {'x'});
    WriteBytes(manifest, {kGood.begin(), kGood.end()});
    EXPECT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 0);
    fs::remove_all(out);
    fs::remove(sample + "/win/flashtool-for-windows.exe");

    WriteBytes(sample + "/win/zero.txt", {});
    ExpectRefused(kGood, {"windows.tools", "zero.txt", "empty"});
    fs::remove(sample + "/win/zero.txt");

    WriteBytes(sample + "/win/a:b", {'x'});
    ExpectRefused(kGood, {"windows.tools", "\"a:b\""});
    fs::remove(sample + "/win/a:b");

    WriteBytes(sample + "/win/FLASH.EXE", {'x'});
    ExpectRefused(kGood, {"windows.tools", "\"FLASH.EXE\" and \"flash.exe\" differ only in case"});
    fs::remove(sample + "/win/FLASH.EXE");

    WriteBytes(sample + "/dos/four", {'4'});
    WriteBytes(sample + "/dos/five", {'5'});
    WriteBytes(sample + "/dos/six", {'6'});
    ExpectRefused(kGood, {"dos.tools", "6 files", "at most 5"});
    fs::remove(sample + "/dos/six");
    // A folder inside is no file to pack, and says so; five is the limit,
    // not over it.
    fs::create_directory(sample + "/dos/sub");
    ExpectRefused(kGood, {"dos.tools", "\"sub\" is a folder"});
    fs::remove(sample + "/dos/sub");
    WriteBytes(manifest, {kGood.begin(), kGood.end()});
    EXPECT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 0);
}

TEST_F(BadManifest, AFailedBuildLeavesEarlierResourcesAlone) {
    std::string manifest = sample + "/package.toml";
    WriteBytes(manifest, {kGood.begin(), kGood.end()});
    ASSERT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 0);
    std::vector<uint8_t> before = ReadBytes(out + "/2003.bin");
    std::string bad = Replace(kGood, "\"no-reboot\"", "\"bogus\"");
    WriteBytes(manifest, {bad.begin(), bad.end()});
    EXPECT_EQ(Fwpack({"build", manifest, "--resources-dir", out}).Code, 2);
    EXPECT_EQ(ReadBytes(out + "/2003.bin"), before);
    EXPECT_EQ(FilesBelow(out).size(), 5u);
}

TEST(FwpackUsage, BadCommandLinesExitWithTwoAndOneLine) {
    TempDir dir;
    std::string m = SampleManifest();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"build", m},                       // no destination
        {"build", m, "-o", dir / "p.exe"},  // no stub
        {"build", m, "-o", dir / "p.exe", "--stub", "a", "--dos-stub", "b"},
        {"build", m, "--resources-dir", dir / "r", "--stub", "a"},  // stub without -o
        {"build", m, "--resources-dir", dir / "r", "--level", "12"},
        {"build", m, "-o", dir / "p.run", "--dos-stub", "b", "--replace"},
        {"build", dir.path(), "--resources-dir", dir / "r"},  // a folder as manifest
        {"build", dir / "none.toml", "--resources-dir", dir / "r"},
        {"inspect"},
        {"verify", dir / "nothere"},
        {"extract", dir / "nothere"},
    };
    for (const auto &args : cases) {
        std::string shown;
        for (const auto &a : args) shown += a + " ";
        SCOPED_TRACE(shown);
        RunResult r = Fwpack(args);
        EXPECT_EQ(r.Code, 2);
        EXPECT_EQ(r.ErrLines().size(), 1u) << r.Err;
    }
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

TEST(FwpackUsage, EveryCommandHasHelp) {
    for (const char *cmd : {"build", "inspect", "verify", "extract"}) {
        RunResult r = Fwpack({cmd, "--help"});
        EXPECT_EQ(r.Code, 0) << cmd;
        EXPECT_NE(r.Out.find("Usage:"), std::string::npos) << cmd;
    }
    RunResult build = Fwpack({"build", "--help"});
    for (const char *flag : {"show-window", "delete-at-end", "factory", "force-it", "force-type",
                             "no-pause", "no-reboot", "restart-n", "restart-r", "keep-all",
                             "keep-k0", "keep-k1", "keep-k2", "debug", "statx"})
        EXPECT_NE(build.Out.find(flag), std::string::npos) << flag;
}

}  // namespace

namespace {

// Names the built package could not carry safely: one line naming the key
// and the name, exit 2, nothing written.
class BadNames : public BadManifest {
  protected:
    RunResult BuildWith(const std::string &text, std::vector<std::string> extra = {}) {
        std::string manifest = sample + "/package.toml";
        WriteBytes(manifest, {text.begin(), text.end()});
        std::vector<std::string> args = {"build", manifest};
        if (extra.empty()) extra = {"--resources-dir", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Fwpack(args);
    }
    void ExpectNameRefused(const std::string &text, const std::vector<std::string> &want,
                           std::vector<std::string> extra = {}) {
        RunResult r = BuildWith(text, extra);
        EXPECT_EQ(r.Code, 2);
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        for (const auto &w : want)
            EXPECT_NE(r.Err.find(w), std::string::npos) << "want " << w << " in " << r.Err;
        EXPECT_FALSE(fs::exists(out));
    }
    void AddFile(const std::string &path) { WriteBytes(sample + "/" + path, {'x'}); }
    std::string LinuxStub() const { return std::string(FWPACK_BINARY_DIR) + "/dosupdater"; }
};

TEST_F(BadNames, WindowsCannotCreateTheName) {
    for (const char *name : {"nul.txt", "CON", "com1.exe", "LPT9", "a*b", "what?", "q\"t",
                             "x<y", "y>x", "p|q", "tab\tname", "trailing.", "space "}) {
        SCOPED_TRACE(name);
        AddFile(std::string("win/") + name);
        ExpectNameRefused(kGood, {"windows.tools", Quoted(name)});
        fs::remove(sample + "/win/" + name);
    }
    // Near misses build.
    for (const char *name : {"console.txt", "com10", "lpt0", "nul_", "a.b.c"}) AddFile(std::string("win/") + name);
    EXPECT_EQ(BuildWith(kGood).Code, 0);
}

TEST_F(BadNames, DosWorkFilesInTheDosPackageAndAsImages) {
    AddFile("dos/BIN.DAT");
    ExpectNameRefused(kGood, {"dos.tools", "\"BIN.DAT\"", "work file"});
    fs::remove(sample + "/dos/BIN.DAT");
    // Only the DOS updater has work files: a Windows tool may be named so.
    AddFile("win/waste.dat");
    AddFile("me.log");
    ExpectNameRefused(Replace(kGood, "image = \"me.bin\"", "image = \"me.log\""),
                      {"me.image", "\"me.log\"", "work file"});
    AddFile("Error.Log");
    ExpectNameRefused(Replace(kGood, "image = \"bios.bin\"", "image = \"Error.Log\""),
                      {"bios.image", "\"Error.Log\""});
    EXPECT_EQ(BuildWith(kGood).Code, 0);
}

TEST_F(BadNames, ImagesThatShareOneNameInTheDosFolder) {
    fs::create_directory(sample + "/me");
    AddFile("me/BIOS.bin");
    ExpectNameRefused(Replace(kGood, "image = \"me.bin\"", "image = \"me/BIOS.bin\""),
                      {"me.image", "\"BIOS.bin\"", "\"bios.bin\""});
}

TEST_F(BadNames, LinuxPackagesTakeOnlyPortableNames) {
    const std::string run = dir / "package.run";
    AddFile("dos/a$b");   // a DOS name, but the Linux updater's words are stricter
    ExpectNameRefused(kGood, {"dos.tools", "\"a$b\"", "Linux package"},
                      {"--dos-stub", LinuxStub(), "-o", run});
    EXPECT_FALSE(fs::exists(run));
    // The same name is fine in a package for Windows and DOS.
    EXPECT_EQ(BuildWith(kGood).Code, 0);
    fs::remove_all(out);
    fs::remove(sample + "/dos/a$b");
    AddFile("bios(1).bin");
    ExpectNameRefused(Replace(kGood, "image = \"bios.bin\"", "image = \"bios(1).bin\""),
                      {"bios.image", "\"bios(1).bin\""}, {"--dos-stub", LinuxStub(), "-o", run});
}

TEST_F(BadNames, ALinuxPackageNeedsDosTools) {
    const std::string run = dir / "package.run";
    std::string noDos = Replace(kGood,
                                "[dos]\ntools = \"dos\"\nflash_program = \"dosflash.exe\"\n"
                                "me_query_tool = \"meinfo.exe\"\nme_update_tool = \"meupd.exe\"\n",
                                "");
    ExpectNameRefused(noDos, {"[dos]", "--dos-stub"}, {"--dos-stub", LinuxStub(), "-o", run});
    EXPECT_EQ(BuildWith(noDos).Code, 0) << "a Windows-only package needs no [dos]";
}

}  // namespace
