#include "tools/fwpack/builder/zlib_stream.h"

#include <algorithm>
#include <zlib.h>

#include "payload/resource_layout.h"

namespace fwpack {
namespace {

// zlib counts what it is given in 32 bits: larger inputs go in slices.
constexpr size_t kSlice = size_t(1) << 30;
constexpr size_t kOutChunk = size_t(1) << 16;

// Runs deflate until it has taken the slice (or finished the stream),
// appending its output to out in fixed-size steps.
int DeflateSlice(z_stream &z, int flush, std::vector<uint8_t> &out) {
    int rc;
    do {
        size_t at = out.size();
        out.resize(at + kOutChunk);
        z.next_out = out.data() + at;
        z.avail_out = uInt(kOutChunk);
        rc = deflate(&z, flush);
        out.resize(at + (kOutChunk - z.avail_out));
    } while (rc == Z_OK && (z.avail_in != 0 || z.avail_out == 0 || flush == Z_FINISH));
    return rc;
}

}  // namespace

bool CompressStream(const std::vector<std::span<const uint8_t>> &pieces, int level,
                    std::vector<uint8_t> &out, std::string &error) {
    out.clear();
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, kPayloadWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "cannot start deflate at level " + std::to_string(level);
        return false;
    }
    int rc = Z_OK;
    for (std::span<const uint8_t> piece : pieces) {
        for (size_t at = 0; at < piece.size() && rc == Z_OK; at += kSlice) {
            z.next_in = const_cast<Bytef *>(piece.data() + at);
            z.avail_in = uInt(std::min(kSlice, piece.size() - at));
            rc = DeflateSlice(z, Z_NO_FLUSH, out);
        }
    }
    if (rc == Z_OK || rc == Z_BUF_ERROR) rc = DeflateSlice(z, Z_FINISH, out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        error = "deflate did not finish";
        return false;
    }
    return true;
}

bool CompressStream(std::span<const uint8_t> in, int level, std::vector<uint8_t> &out,
                    std::string &error) {
    return CompressStream(std::vector<std::span<const uint8_t>>{in}, level, out, error);
}

ZlibHeader ReadZlibHeader(const uint8_t *data, size_t size) {
    ZlibHeader h;
    if (size < 2) return h;
    h.Present = true;
    h.Cmf = data[0];
    h.Flg = data[1];
    h.WindowSize = 1u << ((h.Cmf >> 4) + 8);
    h.Level = h.Flg >> 6;
    h.Valid = (h.Cmf & 0x0F) == 8 && (h.Cmf >> 4) <= 7 && (h.Cmf * 256u + h.Flg) % 31 == 0 &&
              (h.Flg & 0x20) == 0;
    return h;
}

bool InflateStream(const uint8_t *data, size_t size, const ByteSink &sink, std::string &error) {
    z_stream z{};
    // The window the header declares, so that a larger window than 1 KiB can
    // still be shown; the caller reports that window as a fault of its own.
    ZlibHeader h = ReadZlibHeader(data, size);
    int bits = h.Valid && h.WindowSize <= (1u << 15) ? int(h.Cmf >> 4) + 8 : 15;
    if (inflateInit2(&z, bits) != Z_OK) {
        error = "cannot start inflate";
        return false;
    }
    size_t fed = 0;
    uint8_t buf[kOutChunk];
    int rc = Z_OK;
    bool stopped = false;
    while (rc == Z_OK && !stopped) {
        if (z.avail_in == 0 && fed < size) {
            z.next_in = const_cast<Bytef *>(data + fed);
            z.avail_in = uInt(std::min(kSlice, size - fed));
            fed += z.avail_in;
        }
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        size_t produced = sizeof buf - z.avail_out;
        if (produced && !sink(buf, produced)) stopped = true;
    }
    size_t left = z.avail_in + (size - fed);
    std::string msg = z.msg ? z.msg : "";
    inflateEnd(&z);
    if (stopped) {
        error = "stopped";
        return false;
    }
    if (rc == Z_STREAM_END) {
        if (left == 0) return true;
        error = std::to_string(left) + " bytes follow the end of the stream";
        return false;
    }
    if (rc == Z_BUF_ERROR || rc == Z_OK)
        error = "the stream is truncated";
    else
        error = msg.empty() ? "zlib error " + std::to_string(rc) : msg;
    return false;
}

}  // namespace fwpack
