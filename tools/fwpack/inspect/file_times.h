// File times as the builder reads, shows and sets them. The payload stores
// FILETIMEs (100 ns units since 1601-01-01 UTC); the file layer
// (platform/builder_files.h) reads and sets them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

// "2026-12-07T05:18:39.1234567Z"; the fraction only when it is not zero.
std::string FileTimeIso8601(uint64_t fileTime);

}  // namespace fwpack
