// zlib for the builder: compressing the package bodies with the 1 KiB
// window the payload readers accept, and inflating them piece by piece to
// inspect them, so that no stream is ever held whole in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace fwpack {

inline constexpr int kDefaultDeflateLevel = 6;

// A zlib stream made with window bits 10 and memory level 8; at level 6 it
// begins 0x28 0x91. The pieces are compressed in order as one stream and
// fed to zlib in slices its 32-bit counters hold, whatever their size.
// False only when zlib refuses (a level outside 0..9).
bool CompressStream(const std::vector<std::span<const uint8_t>> &pieces, int level,
                    std::vector<uint8_t> &out, std::string &error);
bool CompressStream(std::span<const uint8_t> in, int level, std::vector<uint8_t> &out,
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

// Receives inflated bytes in pieces of at most 64 KiB; false stops the run.
using ByteSink = std::function<bool(const uint8_t *data, size_t size)>;

// Inflates one stream that must fill the buffer exactly, with the window its
// header declares, handing the output to sink as it is produced. On failure
// error says why (the sink's refusal gives "stopped").
bool InflateStream(const uint8_t *data, size_t size, const ByteSink &sink, std::string &error);

}  // namespace fwpack
