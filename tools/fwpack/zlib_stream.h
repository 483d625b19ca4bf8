// Whole-buffer zlib for the builder: compressing the package bodies with the
// 1 KiB window the payload readers accept, and reading them back to inspect.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

inline constexpr int kDefaultDeflateLevel = 6;

// A zlib stream made with window bits 10 and memory level 8; at level 6 it
// begins 0x28 0x91. False only when zlib refuses (a level outside 0..9).
bool CompressStream(const std::vector<uint8_t> &in, int level, std::vector<uint8_t> &out,
                    std::string &error);

// What the two header bytes of a zlib stream say.
struct ZlibHeader {
    bool Present = false;  // at least two bytes
    uint8_t Cmf = 0, Flg = 0;
    bool Valid = false;       // method 8, check bits right, no preset dictionary
    unsigned WindowSize = 0;  // 1 << (CINFO + 8)
    unsigned Level = 0;       // FLEVEL 0..3
};
ZlibHeader ReadZlibHeader(const uint8_t *data, size_t size);

// Inflates one stream that must fill the buffer exactly, with the window its
// header declares. On failure out holds what was produced and error says why.
bool InflateStream(const uint8_t *data, size_t size, std::vector<uint8_t> &out, std::string &error);

}  // namespace fwpack
