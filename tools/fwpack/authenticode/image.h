// The bytes of a PE image that its signature's digest covers: all but the
// checksum field, the certificate table's directory entry and the table
// itself.
#pragma once
#include <openssl/types.h>

#include <cstdint>
#include <vector>

#include "tools/fwpack/authenticode/table.h"

namespace fwpack {

// The image digest: the file's bytes in order, without the checksum field,
// the directory entry and the table (bytes after the table count).
// wordSum, when given, receives the PE checksum's word sum of the same
// bytes (PeWordSum), taken in the same pass while they are in the cache.
std::vector<uint8_t> ImageDigest(const std::vector<uint8_t> &file, const SignatureSpan &span,
                                 const EVP_MD *md, uint64_t *wordSum = nullptr);

}  // namespace fwpack
