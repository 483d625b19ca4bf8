// The file decompressor: results, status texts, progress reports and the
// output it leaves, on real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "payload/zlib_engine.h"
#include "support/test_files.h"

using namespace fwpack;
using test::ReadBytes;
using test::WriteBytes;

namespace {

// Records what the two hooks see, and can ask for an abort.
class WatchedEngine : public ZlibEngine {
  public:
    std::vector<int> progressCalls;
    std::vector<std::string> statusCalls;
    int abortAfterReports = -1;
    void progress(int p) override {
        progressCalls.push_back(p);
        if (abortAfterReports >= 0 && int(progressCalls.size()) > abortAfterReports) m_AbortFlag = 1;
    }
    void status(const char *text) override { statusCalls.emplace_back(text); }
};

struct RunResult {
    int result;
    std::vector<uint8_t> output;
    std::vector<int> progress;
    std::vector<std::string> status;
};

class ZlibEngineTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string in = dir / "in.z", out = dir / "out.bin";

    RunResult Unzip(const std::vector<uint8_t> &input, int abortAfter = -1) {
        WriteBytes(in, input);
        WatchedEngine e;
        e.abortAfterReports = abortAfter;
        RunResult r;
        r.result = e.unzip(in.c_str(), out.c_str());
        r.output = ReadBytes(out);
        r.progress = e.progressCalls;
        r.status = e.statusCalls;
        EXPECT_EQ(e.fin, nullptr);
        EXPECT_EQ(e.fout, nullptr);
        return r;
    }
};

}  // namespace

TEST_F(ZlibEngineTest, ValidStreamsOfManySizes) {
    // Up to several times the output the engine gathers before it writes.
    for (size_t size : {size_t(1), size_t(4095), size_t(4096), size_t(3 * 4096), size_t(100000),
                        size_t(1) << 18, (size_t(3) << 18) + 1234}) {
        const auto data = test::SampleBytes(size, uint32_t(size));
        const auto stream = test::Deflate(data);
        ASSERT_EQ(stream[0], 0x28);
        auto r = Unzip(stream);
        EXPECT_EQ(r.result, 0) << size;
        EXPECT_EQ(r.output, data) << size;
        EXPECT_EQ(r.status, std::vector<std::string>{"Success"});
        ASSERT_FALSE(r.progress.empty());
        EXPECT_EQ(r.progress.back(), 100);
    }
    EXPECT_EQ(DecompressFile(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(unzip(in.c_str(), out.c_str()), 0);
}

TEST_F(ZlibEngineTest, EmptyInputIsABufferErrorWithOneFullProgressReport) {
    auto r = Unzip({});
    EXPECT_EQ(r.result, Z_BUF_ERROR);
    EXPECT_EQ(r.status, std::vector<std::string>{"Zlib Error"});
    EXPECT_EQ(r.progress, std::vector<int>{100});
    EXPECT_TRUE(test::FileExists(out));
    EXPECT_TRUE(r.output.empty());
}

TEST_F(ZlibEngineTest, BytesAfterTheStreamAreIgnored) {
    const auto data = test::SampleBytes(20000);
    auto stream = test::Deflate(data);
    stream.insert(stream.end(), {'j', 'u', 'n', 'k', 0, 0, 0});
    auto r = Unzip(stream);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, data);
}

TEST_F(ZlibEngineTest, LargerWindowsAreRejectedWhateverTheData) {
    const auto data = test::SampleBytes(5000);
    for (int bits : {15, 11}) {
        auto r = Unzip(test::Deflate(data, bits));
        EXPECT_EQ(r.result, Z_DATA_ERROR) << bits;
        EXPECT_EQ(r.status, std::vector<std::string>{"Zlib Error"});
    }
    // A small window is fine: the inflater accepts anything up to 1 KiB.
    EXPECT_EQ(Unzip(test::Deflate(data, 9)).result, 0);
}

TEST_F(ZlibEngineTest, CorruptHeaderDataAndCheck) {
    const auto data = test::SampleBytes(30000);
    const auto stream = test::Deflate(data);
    auto bad = stream;
    bad[1] ^= 1;   // header check fails
    EXPECT_EQ(Unzip(bad).result, Z_DATA_ERROR);
    bad = stream;
    bad[bad.size() - 1] ^= 0x55;   // Adler-32 mismatch
    EXPECT_EQ(Unzip(bad).result, Z_DATA_ERROR);
    // A stream that asks for a preset dictionary (FDICT set, header check kept).
    std::vector<uint8_t> dict = {0x28, 0xB8, 0, 0, 0, 1, 0x03, 0x00};
    auto r = Unzip(dict);
    EXPECT_NE(r.result, 0);
    EXPECT_EQ(r.status, std::vector<std::string>{"Zlib Error"});
}

TEST_F(ZlibEngineTest, TruncatedStreamKeepsThePartialOutput) {
    const auto data = test::SampleBytes(200000, 3);
    auto stream = test::Deflate(data);
    stream.resize(stream.size() / 2);
    auto r = Unzip(stream);
    EXPECT_EQ(r.result, Z_BUF_ERROR);
    ASSERT_GT(r.output.size(), 4096u);
    ASSERT_LT(r.output.size(), data.size());
    EXPECT_TRUE(std::equal(r.output.begin(), r.output.end(), data.begin()));
}

TEST_F(ZlibEngineTest, OutputOfExactBufferMultiplesIsComplete) {
    const auto data = test::SampleBytes(8 * 4096, 11);
    auto r = Unzip(test::Deflate(data, 10, 0));   // stored blocks: output-bound steps
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, data);
}

TEST_F(ZlibEngineTest, FailedWritesAndUnopenableFiles) {
    if (test::FileExists("/dev/full")) {
        WriteBytes(in, test::Deflate(test::SampleBytes(100000)));
        WatchedEngine e;
        EXPECT_EQ(e.unzip(in.c_str(), "/dev/full"), kUnzipWriteFailed);
        EXPECT_EQ(e.statusCalls, std::vector<std::string>{"Zlib Error"});
        // Even a tail small enough to sit in the stdio buffer is reported.
        WriteBytes(in, test::Deflate({1, 2, 3}));
        EXPECT_EQ(DecompressFile(in.c_str(), "/dev/full"), kUnzipWriteFailed);
    }
    EXPECT_NE(DecompressFile((dir / "missing").c_str(), out.c_str()), 0);
    EXPECT_NE(DecompressFile(in.c_str(), (dir / "no/such/dir/out").c_str()), 0);
}

TEST_F(ZlibEngineTest, AbortStopsTheRunAsUserAbort) {
    const auto data = test::SampleBytes(400000, 5);
    auto r = Unzip(test::Deflate(data), 1);
    EXPECT_EQ(r.result, kUnzipUserAbort);
    EXPECT_EQ(r.status, std::vector<std::string>{"User Abort"});
    EXPECT_LT(r.output.size(), data.size());
}

TEST(ZlibEnginePercent, Thresholds) {
    ZlibEngine e;
    auto at = [&](long length, uLong consumed) {
        e.length = length;
        e.zstrm.total_in = consumed;
        return e.percent();
    };
    EXPECT_EQ(at(0, 0), 100);
    EXPECT_EQ(at(3, 1), 33);
    EXPECT_EQ(at(10000000, 10000000), 100);
    EXPECT_EQ(at(20000000, 10000000), 50);
    EXPECT_EQ(at(10000001, 10000001), 100);   // just past the threshold
    EXPECT_EQ(at(10000000, 9999999), 99);
}
