// Whole-file reads and all-or-nothing writes for the builder: a write goes
// to a temporary name beside the target and is renamed over it at the end,
// so a failed build never leaves a half-written file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

// Reads without moving the file's access time where the system allows it
// (O_NOATIME needs the file's owner), so that building twice from the same
// sources records the same times.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error);
// mode: permission bits for the new file (0755 for packages that run).
bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string &error, unsigned mode = 0644);

// Several files that appear together or not at all (the resources folder):
// Stage() writes each to a temporary name; Commit() renames them all;
// the destructor removes whatever was staged but not committed.
class AtomicFileSet {
  public:
    ~AtomicFileSet();
    bool Stage(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error,
               unsigned mode = 0644);
    bool Commit(std::string &error);

  private:
    std::vector<std::pair<std::string, std::string>> staged_;   // temp, final
};

}  // namespace fwpack
