// fwpack against hostile input: FIFOs and devices where files belong,
// outputs that are not files, interrupted builds, bodies beyond 4 GiB,
// streams that inflate far beyond their size, and names that would mislead
// a terminal or a text file.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <zlib.h>

#include "payload/bytes.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "platform/posix/dos_platform_linux.h"
#include "test_tool_support.h"
#include "platform/interrupt_cleanup.h"
#include "tools/fwpack/builder/zlib_stream.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

// Zero bytes that take no memory until written: untouched anonymous pages.
class ZeroMapping {
  public:
    explicit ZeroMapping(size_t size) : size_(size) {
        void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t *>(p);
    }
    ~ZeroMapping() {
        if (data_) ::munmap(data_, size_);
    }
    uint8_t *data() { return data_; }
    std::span<const uint8_t> span() const { return {data_, size_}; }

  private:
    uint8_t *data_;
    size_t size_;
};

// A FilePackage of files of zeros as a zlib stream, made without
// compressing all of it: one megabyte of zeros is deflated once, ending in a
// full flush so that it refers to nothing before it, and repeated; an empty
// final block and the Adler-32 of the whole close the stream.
std::vector<uint8_t> ZeroPackageStream(const std::vector<std::pair<std::string, uint32_t>> &files) {
    std::vector<uint8_t> table(4 + 300 * files.size());
    PutU32(table.data(), uint32_t(files.size()));
    uint64_t zeros = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        FileRecord rec;
        rec.Index = uint32_t(i);
        rec.FileName = files[i].first;
        rec.Size = files[i].second;
        WriteFileRecord(rec, table.data() + 4 + 300 * i);
        zeros += files[i].second;
    }
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 10, 8, Z_DEFAULT_STRATEGY), Z_OK);
    auto flushed = [&](const uint8_t *data, size_t size) {
        std::vector<uint8_t> out;
        uint8_t buf[1 << 16];
        z.next_in = const_cast<Bytef *>(data);
        z.avail_in = uInt(size);
        do {
            z.next_out = buf;
            z.avail_out = sizeof buf;
            deflate(&z, Z_FULL_FLUSH);
            out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        } while (z.avail_out == 0);
        return out;
    };
    const size_t kBlock = 1 << 20;
    const std::vector<uint8_t> none(kBlock, 0);
    std::vector<uint8_t> stream = flushed(table.data(), table.size());
    const std::vector<uint8_t> block = flushed(none.data(), kBlock);
    for (uint64_t i = 0; i < zeros / kBlock; ++i) stream.insert(stream.end(), block.begin(), block.end());
    std::vector<uint8_t> rest = flushed(none.data(), size_t(zeros % kBlock));
    stream.insert(stream.end(), rest.begin(), rest.end());
    deflateEnd(&z);
    stream.push_back(0x03);   // final fixed-code block holding only its end code
    stream.push_back(0x00);
    uLong zerosAdler = uLong((zeros % 65521) << 16 | 1);
    uLong adler = adler32_combine64(adler32(1, table.data(), uInt(table.size())), zerosAdler, zeros);
    for (int shift : {24, 16, 8, 0}) stream.push_back(uint8_t(adler >> shift));
    return stream;
}

// Runs fwpack and reports its peak resident memory in KiB.
long PeakKib(const std::vector<std::string> &args) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        std::vector<char *> argv;
        std::string prog = FwpackPath();
        argv.push_back(prog.data());
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(prog.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage use {};
    ::wait4(pid, &status, 0, &use);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0];
    return use.ru_maxrss;
}

class HostileInput : public ::testing::Test {
  protected:
    TempDir dir;
    std::string res;
    void SetUp() override {
        res = dir / "resources";
        RunResult r = Fwpack({"build", SampleManifest(), "--resources-dir", res});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    std::string File(uint16_t id) { return res + "/" + std::to_string(id) + ".bin"; }
    std::string Fifo(const std::string &name) {
        std::string path = dir / name;
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }
    void ExpectOneLine(const RunResult &r, const std::string &want) {
        EXPECT_EQ(r.Code, 2);
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_NE(r.Err.find(want), std::string::npos) << r.Err;
    }
    // The ME package replaced by one image of size zero bytes.
    void PutZeroMe(uint32_t size) {
        WriteBytes(File(MePackage), MakeTaggedResource(MePackage, ZeroPackageStream({{"me.bin", size}})));
    }
};

TEST_F(HostileInput, AFifoIsRefusedWhereverAFileIsRead) {
    std::string fifo = Fifo("fifo");
    ExpectOneLine(Fwpack({"inspect", fifo}), "not a regular file");
    ExpectOneLine(Fwpack({"verify", fifo}), "not a regular file");

    fs::remove(File(DosPackage));
    ASSERT_EQ(::mkfifo(File(DosPackage).c_str(), 0600), 0);
    ExpectOneLine(Fwpack({"inspect", res}), "not a regular file");

    std::string sample = dir / "sample";
    fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample, fs::copy_options::recursive);
    fs::remove(sample + "/bios.bin");
    ASSERT_EQ(::mkfifo((sample + "/bios.bin").c_str(), 0600), 0);
    ExpectOneLine(Fwpack({"build", sample + "/package.toml", "--resources-dir", dir / "out"}),
                  "bios.image");
    ExpectOneLine(Fwpack({"build", SampleManifest(), "--stub", fifo, "-o", dir / "p.exe"}),
                  "not a regular file");
    ExpectOneLine(Fwpack({"build", SampleManifest(), "--dos-stub", fifo, "-o", dir / "p.run"}),
                  "not a regular file");

    uint8_t out[16];
    EXPECT_FALSE(ReadFirmwareDump(fifo, 0xFFFFFFF0u, out, sizeof out));
    EXPECT_EQ(out[0], 0xFF);
}

TEST_F(HostileInput, AnOutputThatIsNoFileIsLeftAlone) {
    std::string fifo = Fifo("out.exe");
    const std::string stub = std::string(FWPACK_BINARY_DIR) + "/dosupdater";
    ExpectOneLine(Fwpack({"build", SampleManifest(), "--dos-stub", stub, "-o", fifo}),
                  "not a regular file");
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(FilesBelow(dir.path()).size(), 5u) << "a temporary was left";

    std::string folder = dir / "folder";
    fs::create_directories(folder + "/2002.bin");
    ExpectOneLine(Fwpack({"build", SampleManifest(), "--resources-dir", folder}), "2002.bin");
    EXPECT_TRUE(fs::is_directory(folder + "/2002.bin"));
    EXPECT_FALSE(fs::exists(folder + "/2000.bin")) << "the set is all or nothing";
}

TEST(InterruptCleanup, TheSignalRemovesRegisteredTemporariesAndStillEndsTheProgram) {
    TempDir dir;
    for (int sig : {SIGTERM, SIGINT}) {
        std::string temp = dir / ("partial-" + std::to_string(sig)), kept = dir / "kept";
        WriteBytes(temp, {1, 2, 3});
        WriteBytes(kept, {4});
        pid_t pid = ::fork();
        if (pid == 0) {
            RemoveOnInterrupt(kept);
            RemoveOnInterrupt(temp);
            ForgetOnInterrupt(kept);   // renamed into place: not to be removed
            ::raise(sig);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_TRUE(fs::exists(kept));
    }
}

// One buffer of more than 4 GiB, laid out as a package of two files of
// 2 GiB and a bit: compressed whole, and refused by extract, whose message
// states both its limit and the exact size the stream unpacks to.
TEST_F(HostileInput, MoreThan4GiBInOneBufferIsCompressedWholeAndExtractStopsAtItsLimit) {
    const uint32_t big = 0x80000100u;
    const uint64_t size = 4 + 2 * 300 + 2 * uint64_t(big);
    ZeroMapping package(size);
    ASSERT_NE(package.data(), nullptr);
    PutU32(package.data(), 2);
    for (uint32_t i = 0; i < 2; ++i) {
        FileRecord rec;
        rec.Index = i;
        rec.FileName = i ? "b.bin" : "a.bin";
        rec.Size = big;
        WriteFileRecord(rec, package.data() + 4 + 300 * i);
    }
    std::vector<uint8_t> stream;
    std::string error;
    ASSERT_TRUE(CompressStream(package.span(), 1, stream, error)) << error;
    WriteBytes(File(DosPackage), MakeTaggedResource(DosPackage, stream));
    std::string unpacked = dir / "unpacked";
    RunResult r = Fwpack({"extract", res, unpacked});
    ExpectOneLine(r, "extract writes at most " + std::to_string(uint64_t(4) << 30));
    // The total counts the sample's other packages too, a few kilobytes.
    size_t at = r.Err.find("unpack to ");
    ASSERT_NE(at, std::string::npos) << r.Err;
    uint64_t total = std::stoull(r.Err.substr(at + 10));
    EXPECT_GE(total, size);
    EXPECT_LT(total, size + (1 << 20));
    EXPECT_FALSE(fs::exists(unpacked));
}

TEST_F(HostileInput, AnImageOf4GiBIsRefusedBeforeItIsRead) {
    std::string sample = dir / "sample";
    fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample, fs::copy_options::recursive);
    fs::resize_file(sample + "/me.bin", uint64_t(1) << 32);   // sparse: no disk used
    ExpectOneLine(Fwpack({"build", sample + "/package.toml", "--resources-dir", dir / "out"}),
                  "me.image");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(HostileInput, AStreamIsReadInMemoryThatDoesNotGrowWithIt) {
    std::string unpacked = dir / "unpacked";
    PutZeroMe(1 << 20);
    long small[] = {PeakKib({"inspect", res}), PeakKib({"verify", res}),
                    PeakKib({"extract", res, unpacked})};
    fs::remove_all(unpacked);
    PutZeroMe(1u << 30);
    long large[] = {PeakKib({"inspect", res}), PeakKib({"verify", res}),
                    PeakKib({"extract", res, unpacked})};
    EXPECT_EQ(fs::file_size(unpacked + "/MePackage/me.bin"), 1u << 30);
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(large[i] - small[i], 4 * 1024) << "command " << i << ": " << small[i]
                                                 << " KiB for 1 MiB, " << large[i] << " KiB for 1 GiB";
}

}  // namespace
