// The DOS updater's decompressor: a file holding one zlib stream (window of
// at most 1 KiB) becomes a file holding its bytes, through the DOS file
// seam and memory the caller lends, with no heap.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/unzip_results.h"

namespace fwpack {

class DosFiles;

// What the decompressor's state and window take of the work memory (zlib
// asks for a little over 8 KiB for a 1 KiB window), and the least work
// memory it needs besides: room for an input and an output piece.
inline constexpr size_t kUnzipStateRoom = 10240;
inline constexpr size_t kUnzipWorkMin = kUnzipStateRoom + 2 * 1024;

// Inflates inputPath into outputPath, made anew. work (workSize bytes, at
// least kUnzipWorkMin) holds the state and both buffers for the whole call,
// so nothing else may use it meanwhile. 0 on success; otherwise
// kUnzipOpenFailed (input not opened or output not made), kUnzipWriteFailed
// (a short write) or zlib's code (a damaged or cut stream). Bytes after the
// end of the stream are not looked at. The output stays, complete or not,
// whenever it could be made.
// The decompression library's version, for the run's banner.
const char *UnzipLibraryVersion();

int unzip(DosFiles &files, const char *inputPath, const char *outputPath, uint8_t *work,
          size_t workSize);

}  // namespace fwpack
