// The DOS updater's decompressor over the file seam: whole, damaged, cut
// and padded streams, files that cannot be opened or written, and work
// memory that is too small.
#include <gtest/gtest.h>

#include <vector>
#include <zlib.h>

#include "dos/unzip.h"
#include "payload/dos_limits.h"
#include "platform/posix/posix_dos_files.h"
#include "support/test_files.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

class DosUnzip : public ::testing::Test {
  protected:
    int Unzip(const std::vector<uint8_t> &stream, size_t workSize = kDosTransferSize) {
        WriteBytes(dir / "in.dat", stream);
        return UnzipFile(dir / "in.dat", dir / "out.dat", workSize);
    }
    int UnzipFile(const std::string &in, const std::string &out, size_t workSize = kDosTransferSize) {
        work.assign(workSize + 1, 0xA5);
        // One byte in, so that the work memory is not aligned as a heap block is.
        return unzip(files, in.c_str(), out.c_str(), work.data() + 1, workSize);
    }
    std::vector<uint8_t> Out() { return ReadBytes(dir / "out.dat"); }

    TempDir dir;
    PosixDosFiles files;
    std::vector<uint8_t> work;
};

}  // namespace

TEST_F(DosUnzip, AWholeStreamGivesItsBytesAcrossManyPieces) {
    // Larger than the transfer buffer many times over, so that input and
    // output pieces turn over again and again.
    const std::vector<uint8_t> data = SampleBytes(700000, 3);
    ASSERT_EQ(Unzip(Deflate(data)), 0);
    EXPECT_EQ(Out(), data);

    const std::vector<uint8_t> noise = SampleBytes(90000, 9);
    ASSERT_EQ(Unzip(Deflate(noise, 10, 0)), 0);   // stored blocks
    EXPECT_EQ(Out(), noise);

    ASSERT_EQ(Unzip(Deflate({})), 0);
    EXPECT_TRUE(FileExists(dir / "out.dat"));
    EXPECT_TRUE(Out().empty());
}

TEST_F(DosUnzip, TheLeastWorkMemoryIsEnough) {
    const std::vector<uint8_t> data = SampleBytes(40000, 5);
    ASSERT_EQ(Unzip(Deflate(data), kUnzipWorkMin), 0);
    EXPECT_EQ(Out(), data);
    EXPECT_EQ(Unzip(Deflate(data), kUnzipWorkMin - 1), Z_MEM_ERROR);
}

TEST_F(DosUnzip, DamagedCutAndEmptyStreamsAreZlibErrors) {
    const std::vector<uint8_t> data = SampleBytes(60000, 7);
    std::vector<uint8_t> stream = Deflate(data);

    std::vector<uint8_t> damaged = stream;
    damaged[0] ^= 0xFF;   // the header
    EXPECT_EQ(Unzip(damaged), Z_DATA_ERROR);

    damaged = stream;
    damaged[damaged.size() - 2] ^= 0x55;   // the checksum at the end
    EXPECT_EQ(Unzip(damaged), Z_DATA_ERROR);

    // Cut inside the data and inside the checksum: the end comes too soon.
    EXPECT_EQ(Unzip({stream.begin(), stream.begin() + long(stream.size() / 2)}), Z_BUF_ERROR);
    EXPECT_EQ(Unzip({stream.begin(), stream.end() - 1}), Z_BUF_ERROR);
    EXPECT_EQ(Unzip({}), Z_BUF_ERROR);
}

TEST_F(DosUnzip, AStreamWithAWindowLargerThanOneKilobyteIsRefused) {
    EXPECT_EQ(Unzip(Deflate(SampleBytes(5000, 2), 15)), Z_DATA_ERROR);
}

TEST_F(DosUnzip, BytesAfterTheStreamAreNotLookedAt) {
    const std::vector<uint8_t> data = SampleBytes(30000, 4);
    std::vector<uint8_t> stream = Deflate(data);
    stream.insert(stream.end(), 70000, 0xEE);   // more than one input piece of padding
    ASSERT_EQ(Unzip(stream), 0);
    EXPECT_EQ(Out(), data);
}

TEST_F(DosUnzip, FilesThatCannotBeOpenedOrWritten) {
    const std::vector<uint8_t> stream = Deflate(SampleBytes(20000, 6));
    EXPECT_EQ(UnzipFile(dir / "none.dat", dir / "out.dat"), kUnzipOpenFailed);
    EXPECT_FALSE(FileExists(dir / "out.dat"));   // nothing made for a missing input

    WriteBytes(dir / "in.dat", stream);
    EXPECT_EQ(UnzipFile(dir / "in.dat", dir / "no/such/folder/out.dat"), kUnzipOpenFailed);
    // A full disk: the first piece written comes up short.
    EXPECT_EQ(UnzipFile(dir / "in.dat", "/dev/full"), kUnzipWriteFailed);
}
