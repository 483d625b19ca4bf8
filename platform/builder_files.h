// Files as the package builder reads and writes them, on Linux and on
// Windows alike. Paths are UTF-8 strings on both; errors are one line that
// names the path.
//
// - A source is read whole without moving its last access time, so that a
//   rebuild from the same sources records the same times.
// - Output is all-or-nothing: each file is written under a temporary name
//   beside its target and renamed over the target only when every file of
//   the set is complete.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fwpack {

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error);

// The three times of a source file as FILETIMEs (100 ns since 1601-01-01
// UTC). Creation is the file's birth time where the system reports one
// (always on Windows; statx on Linux), else its last write time.
struct SourceFileTimes {
    uint64_t Creation = 0, LastAccess = 0, LastWrite = 0;
    bool CreationIsBirthTime = false;
};
bool ReadSourceFileTimes(const std::string &path, SourceFileTimes &out, std::string &error);

// Sets the times of an existing file. Linux keeps no settable creation
// time: there creation is ignored.
bool ApplyFileTimes(const std::string &path, const SourceFileTimes &times, std::string &error);

// Several files that appear together or not at all (the resources folder,
// an extraction): Stage() writes each to a temporary name; Commit() renames
// them all over their targets; the destructor removes whatever was staged
// but not committed. mode: permission bits on Linux (0755 for packages that
// run); Windows has no use for them.
class AtomicFileSet {
  public:
    AtomicFileSet() = default;
    AtomicFileSet(const AtomicFileSet &) = delete;
    AtomicFileSet &operator=(const AtomicFileSet &) = delete;
    ~AtomicFileSet();
    bool Stage(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error,
               unsigned mode = 0644);
    bool Commit(std::string &error);

  private:
    std::vector<std::pair<std::string, std::string>> staged_;   // temp, final
};

// Renames from over to (replacing it), the one step a commit repeats.
bool RenameOver(const std::string &from, const std::string &to, std::string &error);

inline bool AtomicFileSet::Commit(std::string &error) {
    for (size_t i = 0; i < staged_.size(); ++i) {
        if (!RenameOver(staged_[i].first, staged_[i].second, error)) {
            staged_.erase(staged_.begin(), staged_.begin() + long(i));
            return false;
        }
    }
    staged_.clear();
    return true;
}

inline bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                                std::string &error, unsigned mode = 0644) {
    AtomicFileSet set;
    return set.Stage(path, bytes, error, mode) && set.Commit(error);
}

}  // namespace fwpack
