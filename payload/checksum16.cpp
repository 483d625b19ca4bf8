#include "payload/checksum16.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fwpack {

uint32_t Checksum16Add(uint32_t sum, const uint8_t *data, size_t size) {
    size_t i = 0;
#if defined(__SSE2__)
    // psadbw against zero adds 8 bytes at a time into 64-bit lanes; images of
    // several megabytes are summed at memory speed instead of byte by byte.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; i + 16 <= size; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(v, zero));
    }
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), acc);
    sum += uint32_t(lanes[0] + lanes[1]);   // only the low bits matter: wrapping is the rule
#endif
    for (; i < size; ++i) sum += data[i];
    return sum;
}

uint16_t Checksum16(const uint8_t *data, size_t size) {
    return uint16_t(Checksum16Add(0, data, size));
}

}  // namespace fwpack
