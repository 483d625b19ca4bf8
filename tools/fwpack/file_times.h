// File times as the builder reads, shows and sets them. The payload stores
// FILETIMEs (100 ns units since 1601-01-01 UTC); platform/posix converts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

// "2026-12-07T05:18:39.1234567Z"; the fraction only when it is not zero.
std::string FileTimeIso8601(uint64_t fileTime);

// The three times of a source file. Creation is the birth time when the
// filesystem reports one (statx), else the last write time.
struct SourceFileTimes {
    uint64_t Creation = 0, LastAccess = 0, LastWrite = 0;
    bool CreationIsBirthTime = false;
};
bool ReadSourceFileTimes(const std::string &path, SourceFileTimes &out, std::string &error);


// Sets last access and last write time of path (Linux keeps no settable
// creation time).
bool ApplyFileTimes(const std::string &path, uint64_t lastAccess, uint64_t lastWrite,
                    std::string &error);

}  // namespace fwpack
