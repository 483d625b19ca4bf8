// The results of turning a file holding a zlib stream into a file of its
// uncompressed bytes, besides zlib's own codes (0 success, negative
// errors). Freestanding: plain values only.
#pragma once

namespace fwpack {

inline constexpr int kUnzipWriteFailed = -1;   // a short write to the output
inline constexpr int kUnzipUserAbort = -7;
inline constexpr int kUnzipOpenFailed = -8;    // input not opened or output not created

}  // namespace fwpack
