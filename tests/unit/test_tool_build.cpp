// fwpack build on the sample package: the resources byte by byte where the
// readers depend on them, decoded by an independent zlib (python3), and
// unpacked again by fwpack extract with the same bytes and times.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "payload/bytes.h"
#include "tools/fwpack/container/container.h"
#include "test_tool_support.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

// Fixed times given to every source file, with whole 100 ns so that a
// FILETIME holds them exactly.
constexpr time_t kAccessSec = 1600000000, kWriteSec = 1500000000;
constexpr long kAccessNsec = 123456700, kWriteNsec = 987654300;
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

uint64_t AsFileTime(time_t sec, long nsec) {
    return kUnixEpochAsFileTime + uint64_t(sec) * 10000000 + uint64_t(nsec) / 100;
}

uint32_t ByteSum16(const std::vector<uint8_t> &v) {
    uint32_t s = 0;
    for (uint8_t b : v) s += b;
    return s & 0xFFFF;
}

std::vector<std::string> SortedFiles(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SampleBuild : public ::testing::Test {
  protected:
    TempDir dir;
    std::string sample, out;

    void SetUp() override {
        sample = dir / "sample";
        out = dir / "resources";
        fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample,
                 fs::copy_options::recursive);
        // Byte order, not locale order: "B.txt" sorts before "a.txt".
        WriteBytes(sample + "/win/B.txt", {'B', '\n'});
        SetTimes();
    }

    void SetTimes() {
        for (const auto &e : fs::recursive_directory_iterator(sample)) {
            if (!e.is_regular_file()) continue;
            struct timespec t[2] = {{kAccessSec, kAccessNsec}, {kWriteSec, kWriteNsec}};
            ASSERT_EQ(utimensat(AT_FDCWD, e.path().c_str(), t, 0), 0);
        }
    }

    RunResult Build(const std::string &manifest, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build", manifest, "--resources-dir", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Fwpack(args);
    }

    std::vector<uint8_t> Resource(int id) {
        return ReadBytes(out + "/" + std::to_string(id) + ".bin");
    }

    // The body inflated by python3's zlib with a 1 KiB window.
    std::vector<uint8_t> PythonInflate(const std::vector<uint8_t> &stream) {
        std::string in = dir / "stream.z", inflated = dir / "stream.raw";
        WriteBytes(in, stream);
        RunResult r = RunProgram({"python3", "-c",
                                  "import sys, zlib\n"
                                  "data = open(sys.argv[1], 'rb').read()\n"
                                  "open(sys.argv[2], 'wb').write(zlib.decompress(data, 10))\n",
                                  in, inflated});
        EXPECT_EQ(r.Code, 0) << r.Err;
        return ReadBytes(inflated);
    }

    // A package holds exactly the files of folder, sorted, with their times.
    void ExpectPackageOf(const std::vector<uint8_t> &pkg, const std::string &folder,
                         const std::vector<std::string> &names) {
        ASSERT_GE(pkg.size(), 4u);
        ASSERT_EQ(ReadU32(pkg.data()), names.size());
        size_t data = 4 + 300 * names.size();
        for (size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            const uint8_t *rec = pkg.data() + 4 + 300 * i;
            std::vector<uint8_t> bytes = ReadBytes(folder + "/" + names[i]);
            EXPECT_EQ(ReadU32(rec + 0), i);
            EXPECT_EQ(ReadU32(rec + 4), ByteSum16(bytes));
            EXPECT_EQ(ReadU64(rec + 16), AsFileTime(kAccessSec, kAccessNsec));
            EXPECT_EQ(ReadU64(rec + 24), AsFileTime(kWriteSec, kWriteNsec));
            EXPECT_EQ(ReadU32(rec + 32), 0u);
            EXPECT_EQ(ReadU32(rec + 36), bytes.size());
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(rec + 40)), names[i]);
            EXPECT_TRUE(std::all_of(rec + 40 + names[i].size(), rec + 300,
                                    [](uint8_t b) { return b == 0; }));
            // Creation: the birth time, or the write time where there is none;
            // either way not earlier than the write time set above.
            EXPECT_GE(ReadU64(rec + 8), AsFileTime(kWriteSec, kWriteNsec));
            ASSERT_LE(data + bytes.size(), pkg.size());
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), pkg.begin() + long(data)));
            data += bytes.size();
        }
        EXPECT_EQ(data, pkg.size());
    }
};

void ExpectTagged(const std::vector<uint8_t> &res, const char *tag) {
    ASSERT_GE(res.size(), 16u);
    EXPECT_EQ(std::string(res.begin(), res.begin() + 12), tag);
    EXPECT_EQ(ReadU32(res.data() + 12), res.size() - 16);
}

TEST_F(SampleBuild, ResourcesHaveTheirHeadersStreamsAndRecords) {
    RunResult r = Build(sample + "/package.toml");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");

    auto dosRes = Resource(2000), toolRes = Resource(2001), biosRes = Resource(2002),
         optRes = Resource(2003), meRes = Resource(2004);
    ExpectTagged(dosRes, "$_DOS__EXE_$");
    ExpectTagged(biosRes, "$_BIN_FILE_$");
    ExpectTagged(optRes, "$__OPTION__$");
    ExpectTagged(meRes, "$_ME__FILE_$");
    // Compressed bodies: method 8, 1 KiB window, level 6.
    ASSERT_GE(toolRes.size(), 2u);
    EXPECT_EQ(toolRes[0], 0x28);
    EXPECT_EQ(toolRes[1], 0x91);
    for (const auto *tagged : {&dosRes, &meRes}) {
        ASSERT_GE(tagged->size(), 18u);
        EXPECT_EQ((*tagged)[16], 0x28);
        EXPECT_EQ((*tagged)[17], 0x91);
    }

    {
        SCOPED_TRACE("ToolPackage");
        ExpectPackageOf(PythonInflate(toolRes), sample + "/win", SortedFiles(sample + "/win"));
        EXPECT_EQ(SortedFiles(sample + "/win").front(), "B.txt");
    }
    {
        SCOPED_TRACE("DosPackage");
        ExpectPackageOf(PythonInflate({dosRes.begin() + 16, dosRes.end()}), sample + "/dos",
                        SortedFiles(sample + "/dos"));
    }
    {
        SCOPED_TRACE("MePackage");
        ExpectPackageOf(PythonInflate({meRes.begin() + 16, meRes.end()}), sample, {"me.bin"});
    }
    {
        SCOPED_TRACE("BiosPackage stored plain");
        std::vector<uint8_t> body(biosRes.begin() + 16, biosRes.end());
        ExpectPackageOf(body, sample, {"bios.bin"});
        EXPECT_EQ(body.size(), 304 + ReadBytes(sample + "/bios.bin").size());
    }

    ASSERT_EQ(optRes.size(), 16u + 2472u);
    const uint8_t *o = optRes.data() + 16;
    auto field = [&](size_t off) { return std::string(reinterpret_cast<const char *>(o + off)); };
    EXPECT_EQ(ReadU32(o), 0x2u);  // show-window
    EXPECT_EQ(field(4), "flash.exe");
    EXPECT_EQ(field(264), "");
    EXPECT_EQ(field(524), "dosflash.exe");
    EXPECT_EQ(field(784), "");
    EXPECT_EQ(field(1044), "bios.bin");
    EXPECT_EQ(field(1304), "$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001");
    EXPECT_EQ(field(1432), "meflash.exe");
    EXPECT_EQ(field(1692), "me.bin");
    EXPECT_EQ(field(1952), "meinfo.exe");
    EXPECT_EQ(field(2212), "meupd.exe");
}

TEST_F(SampleBuild, ExtractGivesBackTheSameBytesAndTimes) {
    ASSERT_EQ(Build(sample + "/package.toml").Code, 0);
    std::string unpacked = dir / "unpacked";
    RunResult r = Fwpack({"extract", out, unpacked});
    ASSERT_EQ(r.Code, 0) << r.Err;

    struct Folder {
        const char *Package;
        std::string Source;
        std::vector<std::string> Names;
    };
    std::vector<Folder> folders = {
        {"ToolPackage", sample + "/win", SortedFiles(sample + "/win")},
        {"DosPackage", sample + "/dos", SortedFiles(sample + "/dos")},
        {"BiosPackage", sample, {"bios.bin"}},
        {"MePackage", sample, {"me.bin"}},
    };
    size_t count = 0;
    for (const auto &f : folders) {
        for (const auto &name : f.Names) {
            SCOPED_TRACE(std::string(f.Package) + "/" + name);
            std::string path = unpacked + "/" + f.Package + "/" + name;
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mtim.tv_sec, kWriteSec);
            EXPECT_EQ(st.st_mtim.tv_nsec, kWriteNsec);
            EXPECT_EQ(st.st_atim.tv_sec, kAccessSec);
            EXPECT_EQ(st.st_atim.tv_nsec, kAccessNsec);
            EXPECT_EQ(ReadBytes(path), ReadBytes(f.Source + "/" + name));
            ++count;
        }
    }
    // Nothing else but the option block's text.
    EXPECT_EQ(FilesBelow(unpacked).size(), count + 1);
    std::string options = Text(ReadBytes(unpacked + "/OptionBlock.txt"));
    EXPECT_NE(options.find("Flags = 0x00000002 (show-window)"), std::string::npos) << options;
    EXPECT_NE(options.find("BiosImageName = bios.bin"), std::string::npos) << options;
}

TEST_F(SampleBuild, WithoutDosSectionTheDosPackageIsEmpty) {
    std::string manifest = sample + "/nodos.toml";
    std::string text =
        "[options]\nflags = 0x61\n[windows]\ntools = \"win\"\n"
        "[bios]\nimage = \"bios.bin\"\n[me]\nimage = \"me.bin\"\n";
    WriteBytes(manifest, {text.begin(), text.end()});
    RunResult r = Build(manifest);
    ASSERT_EQ(r.Code, 0) << r.Err;
    auto dosRes = Resource(2000);
    ExpectTagged(dosRes, "$_DOS__EXE_$");
    EXPECT_EQ(PythonInflate({dosRes.begin() + 16, dosRes.end()}), std::vector<uint8_t>(4, 0));
    auto opt = Resource(2003);
    ASSERT_EQ(opt.size(), 2488u);
    EXPECT_EQ(ReadU32(opt.data() + 16), 0x61u);
    for (size_t off : {4u, 524u, 1432u, 1952u, 2212u}) EXPECT_EQ(opt[16 + off], 0) << off;
    EXPECT_EQ(Fwpack({"verify", out}).Code, 0);
}

TEST_F(SampleBuild, LevelChangesTheStreamsButNotTheirWindow) {
    ASSERT_EQ(Build(sample + "/package.toml", {"--level", "9"}).Code, 0);
    auto tool = Resource(2001);
    ASSERT_GE(tool.size(), 2u);
    EXPECT_EQ(tool[0], 0x28);    // still a 1 KiB window
    EXPECT_EQ(tool[1] >> 6, 3);  // FLEVEL: maximum compression
    ExpectPackageOf(PythonInflate(tool), sample + "/win", SortedFiles(sample + "/win"));
}

TEST_F(SampleBuild, ARebuildReplacesTheResourcesAndLeavesNoTemporaries) {
    ASSERT_EQ(Build(sample + "/package.toml").Code, 0);
    WriteBytes(sample + "/win/flash.exe", {'n', 'e', 'w'});
    ASSERT_EQ(Build(sample + "/package.toml").Code, 0);
    std::vector<std::string> names = FilesBelow(out);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"2000.bin", "2001.bin", "2002.bin", "2003.bin",
                                               "2004.bin"}));
    std::vector<uint8_t> pkg = PythonInflate(Resource(2001));
    std::vector<uint8_t> want = {'n', 'e', 'w'};
    EXPECT_NE(std::search(pkg.begin(), pkg.end(), want.begin(), want.end()), pkg.end());
}

TEST_F(SampleBuild, APackageExeCarriesTheSameResourcesAsTheFolder) {
    const std::string stub = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/stub_last.exe";
    ASSERT_TRUE(fs::exists(stub));
    std::string exe = dir / "package.exe";
    // The second build reads the same times: building leaves access times alone.
    ASSERT_EQ(Build(sample + "/package.toml").Code, 0);
    RunResult r = Fwpack({"build", sample + "/package.toml", "--stub", stub, "-o", exe});
    ASSERT_EQ(r.Code, 0) << r.Err;

    ResourceSet fromFolder, fromExe;
    ContainerKind kind;
    std::string error;
    ASSERT_TRUE(ReadContainer(out, fromFolder, kind, error)) << error;
    EXPECT_EQ(kind, ContainerKind::ResourcesFolder);
    ASSERT_TRUE(ReadContainer(exe, fromExe, kind, error)) << error;
    EXPECT_EQ(kind, ContainerKind::WindowsPackage);
    EXPECT_EQ(fromExe, fromFolder);

    EXPECT_EQ(Fwpack({"verify", exe}).Code, 0);
    std::string unpacked = dir / "unpacked";
    ASSERT_EQ(Fwpack({"extract", exe, unpacked}).Code, 0);
    EXPECT_EQ(ReadBytes(unpacked + "/BiosPackage/bios.bin"), ReadBytes(sample + "/bios.bin"));

    // Neither a folder nor a package: refused with one line.
    WriteBytes(dir / "plain.txt", {'h', 'i'});
    r = Fwpack({"inspect", dir / "plain.txt"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(r.ErrLines().size(), 1u);
}

TEST_F(SampleBuild, ALinuxPackageCarriesEverythingButTheWindowsTools) {
    const std::string stub = std::string(FWPACK_BINARY_DIR) + "/dosupdater";
    ASSERT_TRUE(fs::exists(stub));
    std::string run = dir / "package.run";
    // The second build reads the same times: building leaves access times alone.
    ASSERT_EQ(Build(sample + "/package.toml").Code, 0);
    RunResult r = Fwpack({"build", sample + "/package.toml", "--dos-stub", stub, "-o", run});
    ASSERT_EQ(r.Code, 0) << r.Err;

    ResourceSet fromFolder, fromRun;
    ContainerKind kind;
    std::string error;
    ASSERT_TRUE(ReadContainer(out, fromFolder, kind, error)) << error;
    ASSERT_TRUE(ReadContainer(run, fromRun, kind, error)) << error;
    EXPECT_EQ(kind, ContainerKind::LinuxPackage);
    fromFolder.erase(2001);
    EXPECT_EQ(fromRun, fromFolder);

    // No ToolPackage is no fault here, and the rest is checked as usual.
    r = Fwpack({"verify", run});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = Fwpack({"inspect", run});
    EXPECT_NE(r.Out.find("2001 ToolPackage: not carried by this container"), std::string::npos);
    std::string unpacked = dir / "unpacked";
    ASSERT_EQ(Fwpack({"extract", run, unpacked}).Code, 0);
    EXPECT_EQ(ReadBytes(unpacked + "/MePackage/me.bin"), ReadBytes(sample + "/me.bin"));
    EXPECT_FALSE(fs::exists(unpacked + "/ToolPackage"));
}

}  // namespace
