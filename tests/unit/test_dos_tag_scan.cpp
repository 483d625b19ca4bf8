// The chunked tag scan finds exactly what a look at every offset finds,
// wherever a tag falls against the 64 KiB chunks and their overlap.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "dos/tag_scan.h"
#include "payload/dos_limits.h"
#include "payload/tagged_resource.h"
#include "platform/posix/posix_dos_files.h"
#include "support/test_files.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

// The updater scans through its transfer buffer.
constexpr size_t kScanChunkSize = kDosTransferSize;

// Every offset from `from`, 12 bytes compared: the slow reference.
long ReferenceFind(const std::vector<uint8_t> &file, long from, long limit, uint16_t &id) {
    for (long p = from; p < limit && p + 12 <= long(file.size()); ++p) {
        uint16_t found = ResourceIdForTag(file.data(), file.size(), size_t(p));
        if (found != 0) {
            id = found;
            return p;
        }
    }
    return -1;
}

void Place(std::vector<uint8_t> &file, size_t at, uint16_t id) {
    std::string tag = ResourceTag(id);
    std::copy(tag.begin(), tag.end(), file.begin() + long(at));
}

// '$'-rich noise: many near misses for the memchr jumps.
std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (auto &b : v) b = (rng() % 5 == 0) ? '$' : uint8_t(rng());
    return v;
}

class ScanFile {
  public:
    explicit ScanFile(const std::vector<uint8_t> &bytes) : bytes_(bytes) {
        WriteBytes(dir_ / "self", bytes);
        file_ = files_.OpenForReading((dir_ / "self").c_str());
    }
    ~ScanFile() { files_.Close(file_); }
    TagScanner Scanner(long size) { return TagScanner(files_, file_, size, chunk_.data(), chunk_.size()); }

  private:
    TempDir dir_;
    std::vector<uint8_t> bytes_;
    PosixDosFiles files_;
    DosFile file_ = kNoFile;
    std::vector<uint8_t> chunk_ = std::vector<uint8_t>(kScanChunkSize);
};

// Walks the file from 0 as the updater does and lists every hit.
std::vector<std::pair<long, uint16_t>> AllHits(TagScanner &scanner, long limit) {
    std::vector<std::pair<long, uint16_t>> hits;
    long p = 0;
    uint16_t id = 0;
    for (long at; (at = scanner.FindTag(p, limit, &id)) >= 0; p = at + 1) hits.push_back({at, id});
    return hits;
}
std::vector<std::pair<long, uint16_t>> AllReferenceHits(const std::vector<uint8_t> &file, long limit) {
    std::vector<std::pair<long, uint16_t>> hits;
    long p = 0;
    uint16_t id = 0;
    for (long at; (at = ReferenceFind(file, p, limit, id)) >= 0; p = at + 1) hits.push_back({at, id});
    return hits;
}

}  // namespace

TEST(DosTagScan, TagsAroundChunkBordersAreFoundLikeByteByByte) {
    const std::vector<uint8_t> noise = Noise(3 * kScanChunkSize + 1000, 11);
    const uint16_t ids[] = {DosPackage, BiosPackage, OptionResource, MePackage};
    // A tag starting anywhere from 13 bytes before a chunk border to 2
    // after it, for the first border and the second (which the 11-byte
    // overlap moves), with another tag at offset 0.
    int placed = 0;
    for (size_t border : {kScanChunkSize, 2 * kScanChunkSize - 11}) {
        for (size_t s = border - 13; s <= border + 2; ++s) {
            std::vector<uint8_t> file = noise;
            Place(file, 0, ids[placed % 4]);
            Place(file, s, ids[(placed + 1) % 4]);
            ++placed;
            ScanFile f(file);
            TagScanner scanner = f.Scanner(long(file.size()));
            long limit = long(file.size()) - 20;
            auto hits = AllHits(scanner, limit);
            EXPECT_EQ(hits, AllReferenceHits(file, limit)) << "tag at " << s;
            ASSERT_EQ(hits.size(), 2u) << "tag at " << s;
            EXPECT_EQ(hits[1].first, long(s));
        }
    }
}

TEST(DosTagScan, TheLimitIsExclusiveAndTheToolPackageIsNotATag) {
    std::vector<uint8_t> file(200, 0);
    Place(file, 179, MePackage);   // size - 21: the last position looked at
    ScanFile f(file);
    TagScanner scanner = f.Scanner(long(file.size()));
    uint16_t id = 0;
    EXPECT_EQ(scanner.FindTag(0, 180, &id), 179);
    EXPECT_EQ(id, MePackage);
    EXPECT_EQ(scanner.FindTag(0, 179, &id), -1);
    EXPECT_EQ(scanner.FindTag(180, 170, &id), -1);

    std::vector<uint8_t> none(100, '$');
    ScanFile g(none);
    TagScanner empty = g.Scanner(long(none.size()));
    EXPECT_EQ(empty.FindTag(0, 80, &id), -1);
}

TEST(DosTagScan, SearchesCanJumpBackAndForthThroughTheFile) {
    std::vector<uint8_t> file = Noise(5 * kScanChunkSize, 5);
    Place(file, 100, OptionResource);
    Place(file, 4 * kScanChunkSize + 7, DosPackage);
    ScanFile f(file);
    TagScanner scanner = f.Scanner(long(file.size()));
    uint16_t id = 0;
    long limit = long(file.size()) - 20;
    EXPECT_EQ(scanner.FindTag(50, limit, &id), 100);
    EXPECT_EQ(scanner.FindTag(101, limit, &id), long(4 * kScanChunkSize + 7));
    EXPECT_EQ(id, DosPackage);
    EXPECT_EQ(scanner.FindTag(0, limit, &id), 100);   // back to the start after a far chunk
    EXPECT_EQ(id, OptionResource);
}

TEST(DosTagScan, RandomFilesMatchTheReference) {
    std::mt19937 rng(99);
    for (int round = 0; round < 20; ++round) {
        size_t size = 21 + rng() % (2 * kScanChunkSize + 100);
        std::vector<uint8_t> file = Noise(size, rng());
        int tags = int(rng() % 6);
        const uint16_t ids[] = {DosPackage, BiosPackage, OptionResource, MePackage};
        for (int t = 0; t < tags; ++t) Place(file, rng() % (size - 11), ids[rng() % 4]);
        ScanFile f(file);
        TagScanner scanner = f.Scanner(long(size));
        long limit = long(size) - 20;
        EXPECT_EQ(AllHits(scanner, limit), AllReferenceHits(file, limit)) << "round " << round;
    }
}

// The updater jumps past each resource's body before it looks again: from
// any position, near or far, the scanner answers as the reference does.
TEST(DosTagScan, JumpsOfAnyLengthMatchTheReference) {
    std::mt19937 rng(7);
    const uint16_t ids[] = {DosPackage, BiosPackage, OptionResource, MePackage};
    for (int round = 0; round < 10; ++round) {
        size_t size = 1000 + rng() % (4 * kScanChunkSize);
        std::vector<uint8_t> file = Noise(size, rng());
        for (int t = 0; t < 12; ++t) Place(file, rng() % (size - 11), ids[rng() % 4]);
        ScanFile f(file);
        TagScanner scanner = f.Scanner(long(size));
        long limit = long(size) - 20;
        for (long from = 0; from < limit;) {
            uint16_t id = 0, refId = 0;
            long at = scanner.FindTag(from, limit, &id);
            long ref = ReferenceFind(file, from, limit, refId);
            ASSERT_EQ(at, ref) << "round " << round << " from " << from;
            if (at >= 0) {
                EXPECT_EQ(id, refId);
            }
            // Step past the hit, sometimes by a whole body, sometimes by one byte.
            long base = at >= 0 ? at : from;
            from = base + 1 + (rng() % 3 == 0 ? long(rng() % (2 * kScanChunkSize)) : long(rng() % 17));
        }
    }
}

// Where long is 32 bits, header offset + 16 + a BodyLength of 2^31 or more
// used to wrap below the header and the scan began again: it must only
// ever move forward, and a body past the end ends it.
TEST(DosTagScan, TheResumeOffsetNeverWrapsWhateverTheBodyLength) {
    const uint32_t size = 100000;
    EXPECT_EQ(ScanResumeOffset(3000, 0, size), 3016u);       // option block: right after its header
    EXPECT_EQ(ScanResumeOffset(3000, 500, size), 3516u);     // a package: right after its body
    EXPECT_EQ(ScanResumeOffset(3000, size - 3018, size), size - 2u);   // the body ends 2 bytes early
    EXPECT_EQ(ScanResumeOffset(3000, size - 3016, size), size);        // a body to the very end
    for (uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu})
        EXPECT_EQ(ScanResumeOffset(3000, length, size), size) << length;
    // Files up to the largest 32-bit size, headers at their end.
    EXPECT_EQ(ScanResumeOffset(0xFFFFFF00u, 0xFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ScanResumeOffset(0xFFFFFF00u, 0xEFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ScanResumeOffset(0xFFFFFF00u, 0xEEu, 0xFFFFFFFFu), 0xFFFFFFFEu);
    EXPECT_EQ(ScanResumeOffset(0xFFFFFF00u, 0xEDu, 0xFFFFFFFFu), 0xFFFFFFFDu);
    EXPECT_EQ(ScanResumeOffset(0xFFFFFFF8u, 0, 0xFFFFFFFFu), 0xFFFFFFFFu);   // no room for a header
    EXPECT_EQ(ScanResumeOffset(200, 0, 100), 100u);
}
