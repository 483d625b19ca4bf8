#include "tools/fwpack/authenticode/image.h"

#include <openssl/evp.h>

#include <algorithm>
#include <utility>

#include "payload/bytes.h"
#include "tools/fwpack/authenticode/openssl_util.h"
#include "tools/fwpack/pe/image.h"

namespace fwpack {

// Hashed and summed a piece at a time, each piece read from memory once.
constexpr size_t kDigestChunk = 256 * 1024;

std::vector<uint8_t> ImageDigest(const std::vector<uint8_t> &file, const SignatureSpan &span,
                                 const EVP_MD *md, uint64_t *wordSum) {
    const uint8_t *d = file.data();
    const size_t tableStart = span.HasTable() ? span.TableOffset : file.size();
    const size_t tableEnd = span.HasTable() ? size_t(span.TableOffset) + span.TableSize : file.size();
    const std::pair<size_t, size_t> ranges[] = {{0, span.ChecksumOffset},
                                                {span.ChecksumOffset + 4, span.EntryOffset},
                                                {span.EntryOffset + 8, tableStart},
                                                {tableEnd, file.size()}};
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_DigestInit_ex(ctx.get(), md, nullptr);
    uint64_t sum = 0;
    for (const auto &[from, to] : ranges) {
        for (size_t at = from; at < to; at += std::min(to - at, kDigestChunk)) {
            const size_t end = at + std::min(to - at, kDigestChunk);
            EVP_DigestUpdate(ctx.get(), d + at, end - at);
            if (wordSum) sum += PeWordSum(d, at, end);
        }
    }
    if (wordSum) *wordSum = sum;
    std::vector<uint8_t> digest(size_t(EVP_MD_get_size(md)));
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx.get(), digest.data(), &n);
    digest.resize(n);
    return digest;
}

}  // namespace fwpack
