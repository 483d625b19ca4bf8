// Shared helpers for the host tests: a temporary folder that removes
// itself, whole-file I/O, and zlib streams made the way packages are made.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace fwpack::test {

using fwpack::FileTimes;

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }   // no trailing '/'
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string &path);   // empty when missing
void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
bool FileExists(const std::string &path);
// Last access and last write time as FILETIMEs (asserts that the file exists).
FileTimes FileTimesOf(const std::string &path);

// A zlib stream with the given window bits (10 for payload streams).
std::vector<uint8_t> Deflate(const std::vector<uint8_t> &data, int windowBits = 10, int level = 6);
// Deterministic bytes: a mix of runs, text and noise that compresses like a tool.
std::vector<uint8_t> SampleBytes(size_t size, uint32_t seed = 1);

}  // namespace fwpack::test
