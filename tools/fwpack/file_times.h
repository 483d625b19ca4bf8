// File times as the payload stores them (FILETIME: 100 ns units since
// 1601-01-01 UTC) and as Linux has them (seconds and nanoseconds since 1970).
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace fwpack {

inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970-01-01 as FILETIME

uint64_t FileTimeFromUnix(const struct timespec &t);
// Times before 1970 are clamped to the epoch: Linux file times cannot be set
// earlier through utimensat on every filesystem, and no tool is that old.
struct timespec UnixFromFileTime(uint64_t fileTime);
// "2026-12-07T05:18:39.1234567Z"; the fraction only when it is not zero.
std::string FileTimeIso8601(uint64_t fileTime);

}  // namespace fwpack
