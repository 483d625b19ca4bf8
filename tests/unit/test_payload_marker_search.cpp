// The chunked marker search finds what a look at every position finds,
// with markers placed across every chunk border and at the source's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "payload/marker_search.h"

using namespace fwpack;

namespace {

// Bytes in memory handed out in ReadAt pieces.
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    size_t ReadAt(uint64_t offset, uint8_t *into, size_t room) override {
        ++reads;
        if (offset >= bytes_.size()) return 0;
        size_t n = std::min<size_t>(room, bytes_.size() - size_t(offset));
        std::memcpy(into, bytes_.data() + offset, n);
        return n;
    }
    int reads = 0;

  private:
    const std::vector<uint8_t> &bytes_;
};

const std::string kLong = "$__OPTION__$", kMid = "$MN2", kShort = "$FB";
const Marker kMarkers[] = {
    {reinterpret_cast<const uint8_t *>(kLong.data()), kLong.size()},
    {reinterpret_cast<const uint8_t *>(kMid.data()), kMid.size()},
    {reinterpret_cast<const uint8_t *>(kShort.data()), kShort.size()},
};

// Every position, every marker: the slow reference.
MarkerHit Reference(const std::vector<uint8_t> &b, uint64_t from, uint64_t limit) {
    for (uint64_t p = from; p < limit && p < b.size(); ++p)
        for (size_t k = 0; k < 3; ++k)
            if (kMarkers[k].Length <= b.size() - p &&
                std::memcmp(b.data() + p, kMarkers[k].Bytes, kMarkers[k].Length) == 0)
                return {true, p, k};
    return {};
}

MarkerHit Chunked(const std::vector<uint8_t> &b, uint64_t from, uint64_t limit, size_t chunkSize) {
    MemorySource source(b);
    std::vector<uint8_t> chunk(chunkSize);
    return FindMarker(source, from, limit, kMarkers, 3, chunk.data(), chunk.size());
}

void ExpectSame(const MarkerHit &got, const MarkerHit &want, const std::string &where) {
    EXPECT_EQ(got.Found, want.Found) << where;
    if (got.Found && want.Found) {
        EXPECT_EQ(got.Offset, want.Offset) << where;
        EXPECT_EQ(got.Which, want.Which) << where;
    }
}

void Put(std::vector<uint8_t> &b, size_t at, const std::string &text) {
    std::copy(text.begin(), text.end(), b.begin() + long(at));
}

}  // namespace

TEST(MarkerSearch, MarkersStraddlingEveryChunkBorderAreFoundWhole) {
    // Chunks of 16 overlap by 11 (the longest marker less one): the second
    // chunk starts at 5, the third at 10. Each marker is placed at every
    // position of a 60-byte source, so it straddles every border once.
    for (const std::string &m : {kLong, kMid, kShort}) {
        for (size_t at = 0; at + m.size() <= 60; ++at) {
            std::vector<uint8_t> b(60, '$');  // near misses everywhere
            Put(b, at, m);
            const std::string where = m + " at " + std::to_string(at);
            ExpectSame(Chunked(b, 0, 60, 16), Reference(b, 0, 60), where);
            ExpectSame(FindMarkerIn(b.data(), b.size(), 0, 60, kMarkers, 3), Reference(b, 0, 60), where);
            EXPECT_EQ(Chunked(b, 0, 60, 16).Offset, at) << where;
        }
    }
}

TEST(MarkerSearch, TheEndTheLimitAndTheStartPosition) {
    std::vector<uint8_t> b(40, 0);
    Put(b, 37, kShort);  // ends exactly at the source's end
    EXPECT_EQ(Chunked(b, 0, 40, 16).Offset, 37u);
    EXPECT_FALSE(Chunked(b, 0, 37, 16).Found);  // the limit is exclusive
    EXPECT_FALSE(Chunked(b, 38, 40, 16).Found);
    // A marker cut by the end is no marker.
    std::vector<uint8_t> cut(40, 0);
    Put(cut, 37, "$MN");
    EXPECT_FALSE(Chunked(cut, 0, UINT64_MAX, 16).Found);
    EXPECT_FALSE(FindMarkerIn(cut.data(), cut.size(), 0, SIZE_MAX, kMarkers + 1, 1).Found);
    // A source exactly one chunk long: its last bytes come in a short second read.
    std::vector<uint8_t> one(16, 0);
    Put(one, 13, kShort);
    EXPECT_EQ(Chunked(one, 0, UINT64_MAX, 16).Offset, 13u);
    // Starting past a hit finds the next one; starting past the end finds none.
    Put(b, 5, kMid);
    EXPECT_EQ(Chunked(b, 0, 40, 16).Offset, 5u);
    EXPECT_EQ(Chunked(b, 6, 40, 16).Offset, 37u);
    EXPECT_FALSE(Chunked(b, 100, 200, 16).Found);
    // A chunk shorter than the longest marker cannot search.
    EXPECT_FALSE(Chunked(b, 0, 40, 11).Found);
}

TEST(MarkerSearch, TheFirstMarkerInTheListWinsAtOnePosition) {
    // None of the three markers is the start of another; these two are.
    const std::string a = "$AB", ab = "$ABC";
    const Marker both[] = {{reinterpret_cast<const uint8_t *>(ab.data()), ab.size()},
                           {reinterpret_cast<const uint8_t *>(a.data()), a.size()}};
    std::vector<uint8_t> b = {'x', '$', 'A', 'B', 'C'};
    MemorySource source(b);
    std::vector<uint8_t> chunk(8);
    MarkerHit hit = FindMarker(source, 0, 5, both, 2, chunk.data(), chunk.size());
    EXPECT_TRUE(hit.Found);
    EXPECT_EQ(hit.Which, 0u);
    hit = FindMarker(source, 0, 5, both + 1, 1, chunk.data(), chunk.size());
    EXPECT_EQ(hit.Offset, 1u);
}

TEST(MarkerSearch, RandomSourcesAndChunkSizesMatchTheReference) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> b(1 + rng() % 300);
        for (auto &x : b) x = rng() % 3 == 0 ? '$' : uint8_t("_OPTIN2MFB"[rng() % 10]);
        const std::string *ms[] = {&kLong, &kMid, &kShort};
        for (int t = int(rng() % 3); t > 0; --t) {
            const std::string &m = *ms[rng() % 3];
            if (m.size() <= b.size()) Put(b, rng() % (b.size() - m.size() + 1), m);
        }
        size_t chunk = 12 + rng() % 40;
        uint64_t from = rng() % (b.size() + 2), limit = rng() % (b.size() + 20);
        ExpectSame(Chunked(b, from, limit, chunk), Reference(b, from, limit),
                   "round " + std::to_string(round));
    }
}
