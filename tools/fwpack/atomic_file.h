// Whole-file reads and all-or-nothing writes for the builder: a write goes
// to a temporary name beside the target and is renamed over it at the end,
// so a failed or interrupted build never leaves a half-written file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fwpack {

// Opens path for reading when it is a regular file, else -1 with error set:
// a FIFO or a device is refused before an open that could block on it.
// Reads without moving the file's access time where the system allows it
// (O_NOATIME needs the file's owner), so that building twice from the same
// sources records the same times.
int OpenRegularFile(const std::string &path, std::string &error);
// maxSize: a larger file is refused before it is read.
bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                   uint64_t maxSize = UINT64_MAX);
// mode: permission bits for the new file (0755 for packages that run).
bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string &error, unsigned mode = 0644);

// Several files that appear together or not at all (the resources folder,
// an extraction): Stage() writes each to a temporary name, or Open(),
// Append() and Close() stream one; Commit() renames them all; the
// destructor removes whatever was staged but not committed. A target that
// exists and is not a regular file (a device, a FIFO, a folder) is refused.
class AtomicFileSet {
  public:
    ~AtomicFileSet();
    bool Stage(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error,
               unsigned mode = 0644);
    bool Open(const std::string &path, std::string &error, unsigned mode = 0644);
    bool Append(const uint8_t *data, size_t size, std::string &error);
    bool Close(std::string &error);
    bool Commit(std::string &error);

  private:
    void Discard(const std::string &temp);
    std::vector<std::pair<std::string, std::string>> staged_;   // temp, final
    int fd_ = -1;          // the file between Open() and Close()
    unsigned mode_ = 0644;
};

}  // namespace fwpack
