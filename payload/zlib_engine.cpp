#include "payload/zlib_engine.h"

#include <cstring>
#include <memory>
#include <new>

#include "payload/resource_layout.h"

namespace fwpack {

namespace {
// stdio's own buffering of the input. The engine still reads in 4096-byte
// steps; a larger FILE buffer only saves a system call per step.
constexpr size_t kStdioBuffer = 1 << 18;
// The output is gathered by the engine itself and handed to an unbuffered
// stream in pieces of this size: one fwrite per 4096-byte flush into
// stdio's buffer cost about a sixth of a whole run.
constexpr size_t kPendingOutput = 1 << 18;
}

ZlibEngine::ZlibEngine() {
    std::memset(&zstrm, 0, sizeof zstrm);
    zstrm.zalloc = Z_NULL;
    zstrm.zfree = Z_NULL;
    zstrm.opaque = Z_NULL;
}

ZlibEngine::~ZlibEngine() {
    if (fin) std::fclose(fin);
    if (fout) std::fclose(fout);
}

void ZlibEngine::progress(int) {}
void ZlibEngine::status(const char *) {}

unsigned ZlibEngine::load_input() {
    if (zstrm.avail_in == 0) {
        zstrm.next_in = input_buffer;
        // A read error counts as the end of the input.
        zstrm.avail_in = uInt(std::fread(input_buffer, 1, kUnzipBufferSize, fin));
    }
    return zstrm.avail_in;
}

bool ZlibEngine::write_pending() {
    const size_t n = pendingSize_;
    pendingSize_ = 0;
    return n == 0 || std::fwrite(pending_.get(), 1, n, fout) == n;
}

bool ZlibEngine::write_out(const unsigned char *bytes, size_t n) {
    if (!pending_) return std::fwrite(bytes, 1, n, fout) == n;
    if (pendingSize_ + n > kPendingOutput && !write_pending()) return false;
    std::memcpy(pending_.get() + pendingSize_, bytes, n);
    pendingSize_ += n;
    return true;
}

unsigned ZlibEngine::flush_output() {
    const unsigned n = kUnzipBufferSize - zstrm.avail_out;
    if (n == 0) return 0;
    if (!write_out(output_buffer, n)) {
        err = kUnzipWriteFailed;
        return 0;
    }
    zstrm.next_out = output_buffer;
    zstrm.avail_out = kUnzipBufferSize;
    return n;
}

int ZlibEngine::percent() {
    const uint32_t len = uint32_t(length);
    const uint32_t consumed = uint32_t(zstrm.total_in);
    if (len == 0) return 100;
    // Below the threshold consumed x 100 stays within 32 bits.
    if (len <= 10000000u) return int(consumed * 100u / len);
    return int(consumed / (len / 100u));
}

int ZlibEngine::unzip(const char *inputPath, const char *outputPath) {
    err = Z_OK;
    zstrm.avail_in = 0;
    zstrm.next_out = output_buffer;
    zstrm.avail_out = kUnzipBufferSize;
    m_AbortFlag = 0;

    fin = std::fopen(inputPath, "rb");
    fout = std::fopen(outputPath, "wb");
    if (fin == nullptr || fout == nullptr) {
        status("Zlib Error");
        if (fin) std::fclose(fin);
        if (fout) std::fclose(fout);
        fin = fout = nullptr;
        return kUnzipOpenFailed;
    }
    std::setvbuf(fin, nullptr, _IOFBF, kStdioBuffer);
    pending_.reset(new (std::nothrow) unsigned char[kPendingOutput]);
    pendingSize_ = 0;
    if (pending_)
        std::setvbuf(fout, nullptr, _IONBF, 0);
    else
        std::setvbuf(fout, nullptr, _IOFBF, kStdioBuffer);
    length = 0;
    if (std::fseek(fin, 0, SEEK_END) == 0) {
        length = std::ftell(fin);
        if (length < 0) length = 0;
    }
    std::fseek(fin, 0, SEEK_SET);

    // A failed initialisation leaves no inflater state; the first inflate
    // call then reports a stream error and the run ends as a zlib error.
    inflateInit2(&zstrm, kPayloadWindowBits);

    while (m_AbortFlag == 0) {
        if (load_input() == 0) break;
        err = inflate(&zstrm, Z_NO_FLUSH);
        flush_output();
        if (err != Z_OK) break;
        progress(percent());
        if (m_AbortFlag != 0) break;
    }
    if (err != kUnzipWriteFailed) {
        while (m_AbortFlag == 0) {
            err = inflate(&zstrm, Z_FINISH);
            if (flush_output() == 0 || err != Z_OK) break;
        }
    }
    progress(percent());
    inflateEnd(&zstrm);
    // With the output gathered, a full disk may only show when the tail is
    // written; that is a short write all the same, never a success.
    if ((!write_pending() || std::fflush(fout) != 0) && err != kUnzipWriteFailed)
        err = kUnzipWriteFailed;
    pending_.reset();

    if (m_AbortFlag != 0) {
        status("User Abort");
    } else if (err != Z_OK && err != Z_STREAM_END) {
        status("Zlib Error");
    } else {
        status("Success");
        err = Z_OK;
    }
    std::fclose(fin);
    std::fclose(fout);
    fin = fout = nullptr;
    return m_AbortFlag != 0 ? kUnzipUserAbort : err;
}

int DecompressFile(const char *inputPath, const char *outputPath) {
    ZlibEngine engine;
    return engine.unzip(inputPath, outputPath);
}

int unzip(const char *inputPath, const char *outputPath) {
    auto engine = std::make_unique<ZlibEngine>();
    return engine->unzip(inputPath, outputPath);
}

}  // namespace fwpack
