// fwpack against hostile builds: names that meet or misbehave on DOS, tag
// texts a dual-mode package's DOS scan would find, PE layouts Windows would
// load wrongly, DOS programs that patch or run memory outside themselves,
// text that is not UTF-8, tools folders holding what is no file, and builds
// killed while they write.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "support/dos_package.h"
#include "test_tool_support.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/container/pe_package.h"
#include "tools/fwpack/inspect/inspect_format.h"
#include "tools/fwpack/pe/dos_program.h"
#include "tools/fwpack/pe/image.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

const std::string kStubs = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/";

// A copy of the sample package's sources, to be changed by a case.
class HostileBuild : public ::testing::Test {
  protected:
    TempDir dir;
    std::string sample = dir / "sample";
    void SetUp() override { Reset(); }
    // The sources as the sample has them, and no output.
    void Reset() {
        fs::remove_all(sample);
        fs::remove_all(dir / "out");
        fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample, fs::copy_options::recursive);
    }
    std::string Manifest() { return sample + "/package.toml"; }
    void Rename(const std::string &from, const std::string &to) { fs::rename(sample + "/" + from, sample + "/" + to); }
    // The manifest with one text replaced.
    void Edit(const std::string &from, const std::string &to) {
        std::string text = Text(ReadBytes(Manifest()));
        ASSERT_NE(text.find(from), std::string::npos) << from;
        text.replace(text.find(from), from.size(), to);
        WriteBytes(Manifest(), std::vector<uint8_t>(text.begin(), text.end()));
    }
    RunResult Build() { return Fwpack({"build", Manifest(), "--resources-dir", dir / "out"}); }
    void ExpectRefused(const RunResult &r, const std::string &want) {
        EXPECT_EQ(r.Code, 2);
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_NE(r.Err.find(want), std::string::npos) << r.Err;
        EXPECT_FALSE(fs::exists(dir / "out")) << "a failed build leaves no folder";
    }
};

TEST_F(HostileBuild, DosSideNamesThatMeetOrThatDosCannotKeepAreRefused) {
    struct Case {
        std::string From, To, Want;
    };
    const Case cases[] = {
        {"bios.bin", "DOSFLASH.EXE", "names the same DOS file as \"dosflash.exe\""},
        {"me.bin", "MEINFO.exe", "names the same DOS file as \"meinfo.exe\""},
        {"dos/meupd.exe", "dos/command.com", "a file a DOS boot disk needs"},
        {"dos/meupd.exe", "dos/AUTOEXEC.BAT", "a file a DOS boot disk needs"},
        {"bios.bin", "kernel.sys", "a file a DOS boot disk needs"},
        {"dos/meupd.exe", "dos/clock$.exe", "DOS device"},
        {"dos/meupd.exe", "dos/\xC3\xA9t\xC3\xA9.exe", "not a DOS 8.3 name"},
        {"dos/meupd.exe", "dos/ upd.exe", "not a DOS 8.3 name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.To);
        Rename(c.From, c.To);
        if (c.From == "bios.bin") Edit("image = \"bios.bin\"", "image = \"" + c.To + "\"");
        if (c.From == "me.bin") Edit("image = \"me.bin\"", "image = \"" + c.To + "\"");
        if (c.From == "dos/meupd.exe") Edit("me_update_tool = \"meupd.exe\"", "me_update_tool = \"meinfo.exe\"");
        ExpectRefused(Build(), c.Want);
        Reset();
    }
}

// verify reads what a crafted package holds: an image record named like a
// DOS tool, with the option block naming it.
TEST_F(HostileBuild, VerifyFindsRecordsThatAreOneDosFile) {
    ASSERT_EQ(Build().Code, 0);
    const std::string out = dir / "out", other = dir / "other";
    // Without DOS tools the builder has no DOS names to compare.
    Rename("bios.bin", "DOSFLASH.EXE");
    Edit("image = \"bios.bin\"", "image = \"DOSFLASH.EXE\"");
    std::string text = Text(ReadBytes(Manifest()));
    text = text.substr(0, text.find("[dos]")) + text.substr(text.find("[bios]"));
    WriteBytes(Manifest(), std::vector<uint8_t>(text.begin(), text.end()));
    RunResult r = Fwpack({"build", Manifest(), "--resources-dir", other});
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const char *id : {"2002.bin", "2003.bin"})
        fs::copy_file(other + "/" + id, out + "/" + id, fs::copy_options::overwrite_existing);
    r = Fwpack({"verify", out});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("BiosPackage record 0 \"DOSFLASH.EXE\" and DosPackage record 0 \"dosflash.exe\" are "
                         "one DOS file"),
              std::string::npos)
        << r.Out;
}

// The DOS scan of a package .exe meets the option block before the ME
// package: an identification text holding the ME tag misleads it.
TEST_F(HostileBuild, ATagTextInADualModePackageIsRefusedByBuildAndVerify) {
    Edit("$0001\"", "$_ME__FILE_$\"");
    const std::string dos = dir / "DOSUPD.EXE";
    WriteBytes(dos, DosProgram(5000, 10));
    RunResult r = Fwpack({"build", Manifest(), "--stub", kStubs + "stub_roomy.exe", "--dos-program", dos, "-o",
                          dir / "p.exe"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("tag text where the updater would find it"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "p.exe"));

    // The same package put together without the builder's check.
    ASSERT_EQ(Build().Code, 0);
    ResourceSet set;
    std::string error;
    ASSERT_TRUE(ReadResourcesFolder(dir / "out", set, error)) << error;
    std::vector<uint8_t> package, dual;
    ASSERT_EQ(BuildPePackage(ReadBytes(kStubs + "stub_roomy.exe"), set, false, package, error), PeBuildError::None);
    ASSERT_TRUE(InsertDosProgram(package, DosProgram(5000, 10), dual, error)) << error;
    WriteBytes(dir / "crafted.exe", dual);
    r = Fwpack({"verify", dir / "crafted.exe"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("DOS tag scan: the resources hold a tag text"), std::string::npos) << r.Out;
}

// A minimal PE32+ image: headers, then one section of 0x200 bytes.
std::vector<uint8_t> MinimalPe(uint32_t sectionAlignment, uint32_t fileAlignment, uint32_t sizeOfHeaders,
                               uint32_t sizeOfImage, bool withSection) {
    std::vector<uint8_t> pe(0x400, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    PutU32(pe.data() + 0x3C, 0x40);
    std::memcpy(pe.data() + 0x40, "PE\0\0", 4);
    uint8_t *coff = pe.data() + 0x44, *opt = coff + 20;
    PutU16(coff, kMachineAmd64);
    PutU16(coff + 2, withSection ? 1 : 0);
    PutU16(coff + 16, 240);
    PutU16(opt, kOptionalMagicPe32Plus);
    PutU32(opt + pe_opt::SectionAlignment, sectionAlignment);
    PutU32(opt + pe_opt::FileAlignment, fileAlignment);
    PutU32(opt + pe_opt::SizeOfImage, sizeOfImage);
    PutU32(opt + pe_opt::SizeOfHeaders, sizeOfHeaders);
    PutU32(opt + pe_opt::NumberOfRvaAndSizes, 16);
    if (withSection) {
        uint8_t *s = opt + 240;
        std::memcpy(s, ".text", 5);
        PutU32(s + 8, 0x200);
        PutU32(s + 12, 0x200);
        PutU32(s + 16, 0x200);
        PutU32(s + 20, 0x200);
        PutU32(s + 36, 0x60000020);
    }
    return pe;
}

TEST(HostilePeLayout, LayoutsWindowsWouldLoadWronglyAreRefusedOrWrittenCorrectly) {
    TempDir dir;
    ResourceSet set{{OptionResource, std::vector<uint8_t>(100, 7)}};
    std::vector<uint8_t> out;
    std::string error;
    // A low-alignment image gets its new section at the file offset equal
    // to its address; a DOS program in front cannot keep them equal.
    const std::vector<uint8_t> low = MinimalPe(0x200, 0x200, 0x200, 0x400, true);
    ASSERT_EQ(BuildPePackage(low, set, false, out, error), PeBuildError::None) << error;
    PeImage image;
    ASSERT_EQ(ParsePeImage(out, image, error), PeError::None) << error;
    ASSERT_EQ(image.Sections.size(), 2u);
    EXPECT_EQ(image.Sections[1].PointerToRawData, image.Sections[1].VirtualAddress);
    EXPECT_EQ(PeLayoutProblem(image), "");
    std::vector<uint8_t> dual;
    EXPECT_FALSE(InsertDosProgram(out, DosProgram(1000, 1), dual, error));
    EXPECT_NE(error.find("low-alignment"), std::string::npos) << error;

    // Headers that would grow past SizeOfImage.
    EXPECT_FALSE(InsertDosProgram(MinimalPe(0x1000, 0x200, 0x200, 0x1000, false), DosProgram(5000, 2), out, error));
    EXPECT_NE(error.find("past the image's SizeOfImage 4096"), std::string::npos) << error;

    // A stub whose SizeOfHeaders is not a multiple of FileAlignment.
    std::vector<uint8_t> stub = ReadBytes(kStubs + "stub_roomy.exe");
    ASSERT_EQ(ParsePeImage(stub, image, error), PeError::None);
    PutU32(stub.data() + image.OptionalOffset + pe_opt::SizeOfHeaders, image.SizeOfHeaders - 8);
    WriteBytes(dir / "odd.exe", stub);
    RunResult r = Fwpack({"build", SampleManifest(), "--stub", dir / "odd.exe", "-o", dir / "p.exe"});
    EXPECT_EQ(r.Code, 2);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find("is not a multiple of FileAlignment"), std::string::npos) << r.Err;

    // verify checks the layout of every package.
    r = Fwpack({"build", SampleManifest(), "--stub", kStubs + "stub_roomy.exe", "-o", dir / "p.exe"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    std::vector<uint8_t> package = ReadBytes(dir / "p.exe");
    ASSERT_EQ(ParsePeImage(package, image, error), PeError::None);
    PutU32(package.data() + image.OptionalOffset + pe_opt::SizeOfImage, image.SizeOfHeaders - 1);
    WriteBytes(dir / "p.exe", package);
    r = Fwpack({"verify", dir / "p.exe"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("PE layout: SizeOfHeaders"), std::string::npos) << r.Out;
}

TEST(HostileDosProgram, RelocationsAndEntryOutsideTheProgramAreRefusedEverywhere) {
    TempDir dir;
    const std::vector<uint8_t> pe = ReadBytes(kStubs + "stub_roomy.exe");
    std::vector<uint8_t> entryOut = DosProgram(3000, 1);
    PutU16(entryOut.data() + 22, 0x0100);   // CS: 4 KiB in, past the 2936-byte image
    std::vector<uint8_t> tableOut = DosProgram(3000, 2);
    PutU16(tableOut.data() + 6, 2);
    PutU16(tableOut.data() + 0x18, 0x40);   // two entries after a 64-byte header
    std::vector<uint8_t> patchOut = DosProgram(3000, 3);
    PutU16(patchOut.data() + 8, 5);         // an 80-byte header holds one entry
    PutU16(patchOut.data() + 6, 1);
    PutU16(patchOut.data() + 0x18, 0x40);
    PutU16(patchOut.data() + 0x40, 0x0B80 - 1);   // the word at 2943 ends past 2920 bytes
    PutU16(patchOut.data() + 0x42, 0);
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {entryOut, "entry point 0100:0000 lies outside the program's 2936 bytes"},
        {tableOut, "relocation table (2 entries at 64) runs past the header's 64 bytes"},
        {patchOut, "relocation 0 patches the word at 0000:0B7F, outside the program's 2920 bytes"},
    };
    std::vector<uint8_t> out;
    std::string error;
    for (const auto &[dos, want] : cases) {
        SCOPED_TRACE(want);
        EXPECT_FALSE(InsertDosProgram(pe, dos, out, error));
        EXPECT_NE(error.find(want), std::string::npos) << error;
    }
    WriteBytes(dir / "BAD.EXE", entryOut);
    RunResult r = Fwpack({"dos-program", kStubs + "stub_roomy.exe", dir / "BAD.EXE", "-o", dir / "u.exe"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("entry point"), std::string::npos) << r.Err;
    r = Fwpack({"build", SampleManifest(), "--stub", kStubs + "stub_roomy.exe", "--dos-program", dir / "BAD.EXE",
                "-o", dir / "p.exe"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("entry point"), std::string::npos) << r.Err;

    // verify: a package whose DOS program jumps outside itself.
    WriteBytes(dir / "GOOD.EXE", DosProgram(3000, 4));
    r = Fwpack({"build", SampleManifest(), "--stub", kStubs + "stub_roomy.exe", "--dos-program", dir / "GOOD.EXE",
                "-o", dir / "p.exe"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    std::vector<uint8_t> package = ReadBytes(dir / "p.exe");
    PutU16(package.data() + 20, 0xF000);   // IP
    WriteBytes(dir / "p.exe", package);
    r = Fwpack({"verify", dir / "p.exe"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("DOS program: MZ header: entry point 0000:F000"), std::string::npos) << r.Out;
}

TEST(HostileText, JsonCarriesUnicodeCharactersAndBytesThatAreNoUtf8StillShow) {
    EXPECT_EQ(JsonString("M\xC3\xBCller"), "\"M\\u00FCller\"");
    EXPECT_EQ(JsonString("\xE2\x82\xAC \xF0\x9F\x98\x80"), "\"\\u20AC \\uD83D\\uDE00\"");
    EXPECT_EQ(JsonString("\xFC\"\\\x01"), "\"\\u00FC\\\"\\\\\\u0001\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\u00C0\\u00AF\"") << "an overlong form is no character";
}

TEST_F(HostileBuild, AFileNameThatIsNotUtf8IsRefused) {
    WriteBytes(sample + "/win/\xFF" "tool.exe", {1, 2, 3});
    ExpectRefused(Build(), "is not UTF-8; the Windows updater could not create it");
}

TEST_F(HostileBuild, EveryEntryOfAToolsFolderThatIsNoFileStopsTheBuildByName) {
    const std::string win = sample + "/win/";
    auto socketAt = [](const std::string &path) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un a {};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << path;
        ::close(fd);
    };
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { ASSERT_EQ(::mkfifo((win + "pipe").c_str(), 0600), 0); }, "\"pipe\" is a FIFO"},
        {[&] { fs::create_directory(win + "sub"); }, "\"sub\" is a folder"},
        {[&] { fs::create_symlink(win + "gone", win + "dangling"); }, "\"dangling\" is a link to nothing"},
        {[&] { socketAt(win + "sock"); }, "\"sock\" is a socket"},
    };
    for (const auto &[make, want] : cases) {
        SCOPED_TRACE(want);
        make();
        ExpectRefused(Build(), "windows.tools: " + want);
        Reset();
    }
}

// A build writes into a file that has no name until it is complete: killed
// in the middle of the write, it leaves nothing beside its destination.
TEST(HostileKilledBuild, AKilledWriteLeavesNoTemporaryAndLeftoversOfOldBuildsGo) {
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        AtomicFileSet files;
        std::string error;
        const std::vector<uint8_t> piece(1 << 20, 0xAB);
        bool ok = files.Open(dir / "package.exe", error) && files.Append(piece.data(), piece.size(), error);
        char c = ok ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Where the folder's filesystem makes unnamed files, nothing is left at
    // all; elsewhere the next build removes what is.
    const int unnamed = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (unnamed >= 0) {
        ::close(unnamed);
        EXPECT_TRUE(fs::is_empty(dir.path())) << "a killed write left " << FilesBelow(dir.path()).size() << " file(s)";
    }

    // Named temporaries of killed builds (where no unnamed file could be
    // made) go with the next build into the folder; one still held open by
    // a living writer stays.
    WriteBytes(dir / ".fwpack-Ab1234", {1});
    WriteBytes(dir / ".fwpack-live01", {2});
    int live = ::open((dir / ".fwpack-live01").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    RunResult r = Fwpack({"build", SampleManifest(), "--dos-stub", std::string(FWPACK_BINARY_DIR) + "/dosupdater",
                          "-o", dir / "p.run"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(fs::exists(dir / ".fwpack-Ab1234"));
    EXPECT_TRUE(fs::exists(dir / ".fwpack-live01"));
    ::close(live);
    fs::remove(dir / ".fwpack-live01");
    fs::remove(dir / "p.run");
    EXPECT_TRUE(fs::is_empty(dir.path())) << "the killed write's temporary outlived the next build";
}

}  // namespace
