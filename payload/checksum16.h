// Checksum16: the byte sum of a sequence modulo 65536, each byte taken as
// 0..255. An empty sequence has checksum 0.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

uint16_t Checksum16(const uint8_t *data, size_t size);

// Running form for data that arrives in pieces: feed every piece, then take
// the low 16 bits. Checksum16(all) == uint16_t(Checksum16Add(Checksum16Add(0, a), b)).
uint32_t Checksum16Add(uint32_t sum, const uint8_t *data, size_t size);

}  // namespace fwpack
