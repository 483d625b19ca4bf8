// fwpack verify on the built sample and on deliberately broken copies of
// its resources: each fault gives its own line and exit code 1; extract
// refuses what it cannot unpack safely.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "payload/bytes.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "test_tool_support.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

class BrokenResources : public ::testing::Test {
  protected:
    TempDir dir;
    std::string res;

    void SetUp() override {
        res = dir / "resources";
        RunResult r = Fwpack({"build", SampleManifest(), "--resources-dir", res});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }

    std::string File(uint16_t id) { return res + "/" + std::to_string(id) + ".bin"; }
    std::vector<uint8_t> Get(uint16_t id) { return ReadBytes(File(id)); }
    void Put(uint16_t id, const std::vector<uint8_t> &bytes) { WriteBytes(File(id), bytes); }

    // Files of the sample as package entries, to rebuild a resource with.
    std::vector<PackageFile> SampleFiles(const std::string &sub,
                                         const std::vector<std::string> &names) {
        std::vector<PackageFile> files;
        for (const auto &n : names) {
            PackageFile f;
            f.Record.FileName = n;
            f.Bytes = ReadBytes(std::string(FWPACK_SOURCE_DIR) + "/examples/sample/" + sub + n);
            files.push_back(f);
        }
        return files;
    }
    std::vector<PackageFile> DosFiles() {
        return SampleFiles("dos/", {"dosflash.exe", "meinfo.exe", "meupd.exe"});
    }
    std::vector<PackageFile> WinFiles() {
        return SampleFiles("win/", {"flash.exe", "meflash.exe", "readme.txt"});
    }

    OptionBlock Options() {
        std::vector<uint8_t> r = Get(OptionResource);
        OptionBlock o;
        EXPECT_TRUE(ParseOptionBlock(r.data() + 16, r.size() - 16, o));
        return o;
    }
    void PutOptions(const OptionBlock &o) {
        std::vector<uint8_t> body;
        ASSERT_TRUE(SerializeOptionBlock(o, body));
        Put(OptionResource, MakeTaggedResource(OptionResource, body));
    }

    // verify must fail with exactly the lines that hold each of want, in order.
    void ExpectProblems(const std::vector<std::string> &want) {
        RunResult r = Fwpack({"verify", res});
        EXPECT_EQ(r.Code, 1);
        std::vector<std::string> lines = r.OutLines();
        ASSERT_EQ(lines.size(), want.size()) << r.Out;
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_NE(lines[i].find(want[i]), std::string::npos)
                << "want " << want[i] << " in " << lines[i];
    }
};

TEST_F(BrokenResources, TheSampleIsConsistent) {
    RunResult r = Fwpack({"verify", res});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    EXPECT_EQ(r.OutLines().size(), 1u);
    EXPECT_NE(r.Out.find("consistent"), std::string::npos);
}

TEST_F(BrokenResources, HeadersAndMissingResources) {
    auto me = Get(MePackage);
    PutU32(me.data() + 12, uint32_t(me.size() - 16 + 1));
    Put(MePackage, me);
    ExpectProblems({"2004 MePackage: BodyLength " + std::to_string(me.size() - 15) + " but " +
                    std::to_string(me.size() - 16) + " bytes follow"});
    PutU32(me.data() + 12, uint32_t(me.size() - 16));
    Put(MePackage, me);

    auto opt = Get(OptionResource);
    std::memcpy(opt.data(), "$__OPTIOX__$", 12);
    Put(OptionResource, opt);
    ExpectProblems({"2003 OptionBlock: tag \"$__OPTIOX__$\", expected \"$__OPTION__$\""});

    Put(OptionResource, std::vector<uint8_t>(opt.begin(), opt.begin() + 10));
    ExpectProblems({"2003 OptionBlock: only 10 bytes, shorter than the 16-byte header"});

    Put(OptionResource, std::vector<uint8_t>(opt.begin(), opt.begin() + 16 + 1952));
    auto shortOpt = Get(OptionResource);
    PutU32(shortOpt.data() + 12, 1952);
    std::memcpy(shortOpt.data(), "$__OPTION__$", 12);
    Put(OptionResource, shortOpt);
    // The DOS programs' fields go with the tail: they read as empty.
    ExpectProblems({"2003 OptionBlock: option block is 1952 bytes; 2472 expected"});
}

TEST_F(BrokenResources, MissingResourcesAreNamed) {
    fs::remove(File(MePackage));
    fs::remove(File(DosPackage));
    ExpectProblems({"2000 DosPackage: missing", "2004 MePackage: missing"});
}

TEST_F(BrokenResources, StreamsWithALargeWindowOrDamage) {
    auto winPkg = BuildFilePackage(WinFiles());
    Put(ToolPackage, Deflate(winPkg, 15));
    ExpectProblems(
        {"2001 ToolPackage: zlib stream declares a 32768-byte window; the readers accept at most "
         "1024"});

    auto good = Deflate(winPkg, 10);
    Put(ToolPackage, std::vector<uint8_t>(good.begin(), good.end() - 6));
    ExpectProblems({"2001 ToolPackage: zlib stream does not decompress: the stream is truncated"});

    auto dos = Get(DosPackage);
    dos[dos.size() - 1] ^= 0xFF;  // the Adler-32
    Put(DosPackage, dos);
    Put(ToolPackage, good);
    ExpectProblems({"2000 DosPackage: zlib stream does not decompress: incorrect data check"});

    Put(DosPackage, MakeTaggedResource(DosPackage, {'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'}));
    ExpectProblems({"2000 DosPackage: body does not begin with a zlib header (0x6E 0x6F)"});
}

TEST_F(BrokenResources, PackageInvariantsNamesAndChecksums) {
    auto bios = Get(BiosPackage);
    std::vector<uint8_t> flipped = bios;
    flipped[16 + 304 + 10] ^= 0x01;
    Put(BiosPackage, flipped);
    ExpectProblems({"2002 BiosPackage: record 0 \"bios.bin\": checksum 0x"});

    std::vector<uint8_t> upper = bios;
    upper[16 + 4 + 4 + 2] = 0x01;  // Checksum's upper 16 bits
    Put(BiosPackage, upper);
    ExpectProblems({"2002 BiosPackage: record 0 \"bios.bin\": checksum 0x0001"});

    std::vector<uint8_t> cut(bios.begin(), bios.end() - 1);
    PutU32(cut.data() + 12, uint32_t(cut.size() - 16));
    Put(BiosPackage, cut);
    ExpectProblems({"2002 BiosPackage: broken package"});
    Put(BiosPackage, bios);

    auto files = WinFiles();
    files[2].Record.FileName = "..\\evil.txt";
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    ExpectProblems({"2001 ToolPackage: record 2 \"..\\evil.txt\": not a bare file name"});

    // A line break in a name stays inside its one line.
    files = WinFiles();
    files[2].Record.FileName = "x/\ny";
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    ExpectProblems({"2001 ToolPackage: record 2 \"x/\\x0Ay\": not a bare file name"});

    files = WinFiles();
    files[2].Record.FileName = "MeFlash.exe";
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    ExpectProblems(
        {"2001 ToolPackage: records 1 \"meflash.exe\" and 2 \"MeFlash.exe\" differ "
         "only in case"});

    auto dosFiles = DosFiles();
    for (const char *extra : {"a", "b", "c"}) {
        PackageFile f;
        f.Record.FileName = extra;
        f.Bytes = {'x'};
        dosFiles.push_back(f);
    }
    Put(ToolPackage, Deflate(BuildFilePackage(WinFiles()), 10));
    Put(DosPackage, MakeTaggedResource(DosPackage, Deflate(BuildFilePackage(dosFiles), 10)));
    ExpectProblems({"2000 DosPackage: 6 files; the DOS updater holds at most 5"});
}

TEST_F(BrokenResources, OptionBlockNamesMustMatchThePackages) {
    OptionBlock good = Options();
    struct Case {
        std::string OptionBlock::*Field;
        std::string Value, Want;
    };
    const Case cases[] = {
        {&OptionBlock::BiosImageName, "other.bin",
         "2003 OptionBlock: BiosImageName \"other.bin\" differs from the BiosPackage record's "
         "FileName \"bios.bin\""},
        {&OptionBlock::MeImageName, "ME.BIN",
         "2003 OptionBlock: MeImageName \"ME.BIN\" differs from the MePackage record's FileName "
         "\"me.bin\""},
        {&OptionBlock::MeImageName, "", "2003 OptionBlock: MeImageName is empty"},
        {&OptionBlock::FlashProgram, "gone.exe",
         "2003 OptionBlock: FlashProgram \"gone.exe\" is not a file of ToolPackage"},
        {&OptionBlock::MeFlashProgram, "dosflash.exe",
         "2003 OptionBlock: MeFlashProgram \"dosflash.exe\" is not a file of ToolPackage"},
        {&OptionBlock::DosFlashProgram, "flash.exe",
         "2003 OptionBlock: DosFlashProgram \"flash.exe\" is not a file of DosPackage"},
        {&OptionBlock::DosMeQueryTool, "x",
         "2003 OptionBlock: DosMeQueryTool \"x\" is not a file of DosPackage"},
        {&OptionBlock::DosMeUpdateTool, "y",
         "2003 OptionBlock: DosMeUpdateTool \"y\" is not a file of DosPackage"},
        {&OptionBlock::BiosImageName, "../bios.bin",
         "2003 OptionBlock: BiosImageName \"../bios.bin\" is not a bare file name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Want);
        OptionBlock o = good;
        o.*c.Field = c.Value;
        PutOptions(o);
        ExpectProblems({c.Want});
    }
    // An image name the DOS updater cannot open, in a package with DOS tools.
    const std::vector<uint8_t> bios = Get(BiosPackage);
    PackageFile longBios;
    longBios.Record.FileName = "bios-image-for-board.bin";
    longBios.Bytes = {1, 2, 3};
    Put(BiosPackage, MakeTaggedResource(BiosPackage, BuildFilePackage({longBios})));
    OptionBlock longName = good;
    longName.BiosImageName = longBios.Record.FileName;
    PutOptions(longName);
    ExpectProblems(
        {"2003 OptionBlock: BiosImageName \"bios-image-for-board.bin\" is 24 "
         "characters; the DOS updater opens at most 19"});

    // Short enough for the buffer, but not a name DOS can create.
    longBios.Record.FileName = "bios.rom1";
    Put(BiosPackage, MakeTaggedResource(BiosPackage, BuildFilePackage({longBios})));
    longName.BiosImageName = longBios.Record.FileName;
    PutOptions(longName);
    ExpectProblems({"2003 OptionBlock: BiosImageName \"bios.rom1\" is not a DOS 8.3 name"});
    Put(BiosPackage, bios);
    PutOptions(good);

    // The DOS package's own files likewise.
    const std::vector<uint8_t> dosPackage = Get(DosPackage);
    auto dosFiles = DosFiles();
    dosFiles[1].Record.FileName = "meinfo-tool.exe";
    Put(DosPackage, MakeTaggedResource(DosPackage, Deflate(BuildFilePackage(dosFiles), 10)));
    ExpectProblems({"2000 DosPackage: record 1 \"meinfo-tool.exe\": not a DOS 8.3 name",
                    "2003 OptionBlock: DosMeQueryTool \"meinfo.exe\" is not a file of DosPackage"});
    Put(DosPackage, dosPackage);

    // Empty program names are allowed: an unpack-only package.
    OptionBlock unpackOnly = good;
    unpackOnly.FlashProgram = unpackOnly.MeFlashProgram = "";
    PutOptions(unpackOnly);
    EXPECT_EQ(Fwpack({"verify", res}).Code, 0);
}

TEST_F(BrokenResources, IdStringOverItsFieldAndSeveralProblemsAtOnce) {
    auto opt = Get(OptionResource);
    std::memset(opt.data() + 16 + OptionFieldOf(OptionField::IdString).Offset, '$', kIdStringSize);
    Put(OptionResource, opt);
    ExpectProblems({"2003 OptionBlock: IdString is over 127 characters"});

    fs::remove(File(MePackage));
    auto bios = Get(BiosPackage);
    PutU32(bios.data() + 12, 5);
    Put(BiosPackage, bios);
    ExpectProblems({"2002 BiosPackage: BodyLength 5", "2004 MePackage: missing",
                    "2003 OptionBlock: IdString is over 127 characters"});
}

TEST_F(BrokenResources, ExtractRefusesNamesThatLeaveTheFolder) {
    auto files = WinFiles();
    files[0].Record.FileName = "../escape.txt";
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    std::string out = dir / "unpacked";
    RunResult r = Fwpack({"extract", res, out});
    EXPECT_EQ(r.Code, 2);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find("\"../escape.txt\""), std::string::npos) << r.Err;
    EXPECT_TRUE(FilesBelow(dir.path()).size() == 5u) << "extract wrote something";
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));

    // A stream that does not decompress is refused the same way.
    Put(ToolPackage, {0x28, 0x91, 0x00});
    r = Fwpack({"extract", res, out});
    EXPECT_EQ(r.Code, 2);
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace

namespace {

TEST_F(BrokenResources, NamesWindowsOrTheDosUpdaterCannotTake) {
    auto files = WinFiles();
    files[2].Record.FileName = "nul.txt";
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    auto dos = DosFiles();
    dos.push_back(dos[0]);
    dos.back().Record.FileName = "WASTE.DAT";
    Put(DosPackage, MakeTaggedResource(DosPackage, Deflate(BuildFilePackage(dos), 10)));
    ExpectProblems({"2000 DosPackage: record 3 \"WASTE.DAT\" is the name of a work file",
                    "2001 ToolPackage: record 2 \"nul.txt\" is a device name on Windows"});

    // Images that the DOS folder takes for one file.
    Put(ToolPackage, Deflate(BuildFilePackage(WinFiles()), 10));
    Put(DosPackage, MakeTaggedResource(DosPackage, Deflate(BuildFilePackage(DosFiles()), 10)));
    PackageFile me;
    me.Record.FileName = "BIOS.BIN";
    me.Bytes = {7};
    Put(MePackage, MakeTaggedResource(MePackage, Deflate(BuildFilePackage({me}), 10)));
    OptionBlock o = Options();
    o.MeImageName = "BIOS.BIN";
    PutOptions(o);
    ExpectProblems({"2003 OptionBlock: MeImageName \"BIOS.BIN\" names the same file as "
                    "BiosImageName \"bios.bin\""});
}

TEST_F(BrokenResources, ExtractShowsNamesAndFieldsAsText) {
    // A name with a terminal escape, 250 bytes long: valid, and printed escaped.
    auto files = WinFiles();
    std::string name = "\x1b]0;owned\x07" + std::string(240, 'n');
    files[2].Record.FileName = name;
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    OptionBlock o = Options();
    o.IdString = "$FB\nFlashProgram = evil.exe";
    PutOptions(o);
    std::string out = dir / "unpacked";
    RunResult r = Fwpack({"extract", res, out});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.Out.find("\\x1B]0;owned\\x07nnn"), std::string::npos) << r.Out;
    EXPECT_EQ(ReadBytes(out + "/ToolPackage/" + name), files[2].Bytes);
    std::string text = Text(ReadBytes(out + "/OptionBlock.txt"));
    EXPECT_EQ(RunResult::Lines(text).size(), 9u) << text;
    EXPECT_NE(text.find("IdString = $FB\\x0AFlashProgram = evil.exe\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nFlashProgram = flash.exe\n"), std::string::npos) << text;
}

TEST_F(BrokenResources, ExtractLeavesNoFoldersAfterAFailure) {
    // Valid in a record, too long for the filesystem: fails when it is
    // renamed into place, after the folders were made.
    auto files = WinFiles();
    files[2].Record.FileName = std::string(258, 'x');
    Put(ToolPackage, Deflate(BuildFilePackage(files), 10));
    std::string out = dir / "new/unpacked";
    RunResult r = Fwpack({"extract", res, out});
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(r.ErrLines().size(), 1u) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "new"));
    // A folder that was there before stays.
    fs::create_directory(dir / "kept");
    r = Fwpack({"extract", res, dir / "kept"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(fs::is_empty(dir / "kept"));
}

}  // namespace
