// Files as the package builder reads and writes them, on Linux and on
// Windows alike. Paths are UTF-8 strings on both; errors are one line that
// names the path.
//
// - A source is read whole without moving its last access time, so that a
//   rebuild from the same sources records the same times. Only a regular
//   file is read: a folder, a FIFO or a device is refused before a read
//   that could block on it.
// - Output is all-or-nothing: each file is written beside its target, with
//   no name at all where the system allows (Linux: a killed build leaves
//   nothing) or under a temporary name, and put in place of the target only
//   when every file of the set is complete. A named temporary is registered
//   for removal when the program is stopped (platform/interrupt_cleanup.h),
//   and the leftovers of builds killed outright are removed by the next
//   build into the same folder where the system can tell them apart.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/interrupt_cleanup.h"

namespace fwpack {

// maxSize: a larger file is refused before it is read.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                   uint64_t maxSize = UINT64_MAX);

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

// How long a file name is, and how long a name the folder takes, counted
// the way the system counts (UTF-8 bytes on Linux, UTF-16 units on
// Windows); Limit 0: the system does not say.
struct FileNameRoom {
    size_t Length = 0, Limit = 0;
    const char *Unit = "bytes";
};
FileNameRoom NameRoomIn(const std::string &folder, const std::string &name);

// Several files that appear together or not at all (the resources folder,
// an extraction): Stage() writes each to a temporary name, or Open(),
// Append() and Close() stream one; Commit() renames them all over their
// targets; the destructor removes whatever was staged but not committed.
// A target that exists and is not a regular file (a device, a FIFO, a
// folder) is refused. mode: permission bits on Linux (0755 for packages
// that run); Windows has no use for them.
class AtomicFileSet {
  public:
    AtomicFileSet() = default;
    AtomicFileSet(const AtomicFileSet &) = delete;
    AtomicFileSet &operator=(const AtomicFileSet &) = delete;
    ~AtomicFileSet();
    bool Stage(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error,
               unsigned mode = 0644) {
        return Open(path, error, mode) && Append(bytes.data(), bytes.size(), error) &&
               Close(error);
    }
    bool Open(const std::string &path, std::string &error, unsigned mode = 0644);
    bool Append(const uint8_t *data, size_t size, std::string &error);
    bool Close(std::string &error);
    bool Commit(std::string &error);

  private:
    std::vector<std::pair<std::string, std::string>> staged_;   // temp, final
    intptr_t open_ = -1;   // the file between Open() and Close(): an fd, or a HANDLE
    unsigned mode_ = 0644;
};

// Renames from over to (replacing it), the one step a commit repeats.
bool RenameOver(const std::string &from, const std::string &to, std::string &error);

inline bool AtomicFileSet::Commit(std::string &error) {
    for (size_t i = 0; i < staged_.size(); ++i) {
        if (!RenameOver(staged_[i].first, staged_[i].second, error)) {
            for (size_t k = 0; k < i; ++k) ForgetOnInterrupt(staged_[k].first);
            staged_.erase(staged_.begin(), staged_.begin() + long(i));
            return false;
        }
    }
    for (auto &[temp, final] : staged_) ForgetOnInterrupt(temp);
    staged_.clear();
    return true;
}

inline bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                                std::string &error, unsigned mode = 0644) {
    AtomicFileSet set;
    return set.Stage(path, bytes, error, mode) && set.Commit(error);
}

}  // namespace fwpack
