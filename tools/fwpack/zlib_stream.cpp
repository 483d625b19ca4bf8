#include "zlib_stream.h"

#include <zlib.h>

#include "payload/resource_layout.h"

namespace fwpack {

bool CompressStream(const std::vector<uint8_t> &in, int level, std::vector<uint8_t> &out,
                    std::string &error) {
    z_stream z{};
    int rc = deflateInit2(&z, level, Z_DEFLATED, kPayloadWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        error = "cannot start deflate at level " + std::to_string(level);
        return false;
    }
    out.resize(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef *>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        error = "deflate did not finish";
        return false;
    }
    return true;
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

bool InflateStream(const uint8_t *data, size_t size, std::vector<uint8_t> &out,
                   std::string &error) {
    out.clear();
    z_stream z{};
    // The window the header declares, so that a larger window than 1 KiB can
    // still be shown; the caller reports that window as a fault of its own.
    ZlibHeader h = ReadZlibHeader(data, size);
    int bits = h.Valid && h.WindowSize <= (1u << 15) ? int(h.Cmf >> 4) + 8 : 15;
    if (inflateInit2(&z, bits) != Z_OK) {
        error = "cannot start inflate";
        return false;
    }
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(size);
    uint8_t buf[1 << 16];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // ran out of input
    }
    size_t left = z.avail_in;
    std::string msg = z.msg ? z.msg : "";
    inflateEnd(&z);
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
