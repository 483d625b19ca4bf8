// ZlibEngine: turns a file holding one zlib stream (window of at most
// 1 KiB) into a file holding the uncompressed bytes, through two fixed
// 4096-byte buffers. One object serves one run.
#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>
#include <zlib.h>

#include "payload/unzip_results.h"

namespace fwpack {

inline constexpr unsigned kUnzipBufferSize = 4096;

class ZlibEngine {
  public:
    ZlibEngine();
    // Virtual: a subclass that watches a run may be destroyed as an engine.
    virtual ~ZlibEngine();
    ZlibEngine(const ZlibEngine &) = delete;
    ZlibEngine &operator=(const ZlibEngine &) = delete;

    // The two hooks, in this order; empty here. A subclass may watch a run.
    virtual void progress(int percent);
    virtual void status(const char *text);

    // 0 on success; otherwise -1 (short write), a zlib error code, -7 (user
    // abort) or -8 (a file could not be opened). The output file stays,
    // complete or not, whenever it could be created.
    int unzip(const char *inputPath, const char *outputPath);
    unsigned load_input();
    unsigned flush_output();
    int percent();

    z_stream zstrm;
    int m_AbortFlag = 0;
    FILE *fin = nullptr;
    FILE *fout = nullptr;
    long length = 0;
    int err = 0;
    unsigned char input_buffer[kUnzipBufferSize];
    unsigned char output_buffer[kUnzipBufferSize];

  private:
    // Flushed output waits here and goes to fout in large writes; without
    // it (allocation failed) every flush is its own fwrite.
    bool write_out(const unsigned char *bytes, size_t n);
    bool write_pending();
    std::unique_ptr<unsigned char[]> pending_;
    size_t pendingSize_ = 0;
};

// The entry point the Windows program uses: one engine, one run.
int DecompressFile(const char *inputPath, const char *outputPath);

// The plain-function form: the same engine, its state allocated at the
// start of each run and released at its end. (The DOS updater has its own,
// over its file seam and fixed memory: dos/unzip.h.)
int unzip(const char *inputPath, const char *outputPath);

}  // namespace fwpack
