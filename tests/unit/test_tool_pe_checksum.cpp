// The PE checksum summed four bytes at a time against the word-by-word
// definition with end-around carry, over odd sizes, odd field offsets and
// sums that land on a multiple of 0xFFFF.
#include <gtest/gtest.h>

#include <random>

#include "tools/fwpack/pe/image.h"

using namespace fwpack;

namespace {

uint32_t WordByWord(const std::vector<uint8_t> &file, size_t field) {
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        auto byte = [&](size_t j) -> uint32_t {
            return j < file.size() && (j < field || j >= field + 4) ? file[j] : 0;
        };
        sum += byte(i) | byte(i + 1) << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return sum + uint32_t(file.size());
}

TEST(PeChecksum, FourBytesAtATimeAgreesWithWordByWord) {
    std::mt19937 rng(7);
    for (size_t size : {0u, 1u, 2u, 3u, 5u, 64u, 65u, 4097u, 100003u}) {
        std::vector<uint8_t> file(size);
        for (auto &b : file) b = uint8_t(rng());
        for (size_t field : {size_t(0), size_t(1), size_t(3), size / 2, size + 10})
            EXPECT_EQ(ComputePeChecksum(file, field), WordByWord(file, field)) << size << " " << field;
    }
    // Words summing to exactly 0xFFFF, 2 x 0xFFFF, and all zero.
    for (const std::vector<uint8_t> &file : {std::vector<uint8_t>{0xff, 0xff, 0, 0, 0, 0},
                                             std::vector<uint8_t>{0xff, 0xff, 0xff, 0xff, 9, 9, 9, 9},
                                             std::vector<uint8_t>(12, 0), std::vector<uint8_t>(4096, 0xff)})
        EXPECT_EQ(ComputePeChecksum(file, 4), WordByWord(file, 4)) << file.size();
}

}  // namespace
