// The file part of the seam on POSIX systems: real files, '/' as the folder
// separator, FILETIMEs mapped onto the file's access and modification times.
#pragma once
#include <ctime>
#include <string>

#include "platform/files.h"

namespace fwpack {

// FILETIME (100 ns since 1601-01-01 UTC) <-> seconds and nanoseconds since
// 1970-01-01 UTC: the one conversion on POSIX. Every FILETIME has its Unix
// time (before 1970 the seconds are negative), so nothing is lost that way;
// a Unix time outside the FILETIME range is clamped to 0 or UINT64_MAX.
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
void UnixFromFileTime(uint64_t fileTime, int64_t &seconds, int64_t &nanoseconds);
// The same as the timespec that utimensat and futimens take.
timespec TimespecFromFileTime(uint64_t fileTime);

class PosixFileSystem : public FileSystem {
  public:
    // tempRoot: the folder TempRoot() reports (a '/' is appended when
    // missing). Empty: $TMPDIR when set and not empty, else "/tmp/".
    explicit PosixFileSystem(std::string tempRoot = {});

    char Separator() const override { return '/'; }
    std::string TempRoot() override;
    std::optional<std::string> TempFileName(std::string_view folder, std::string_view prefix,
                                            uint32_t unique) override;
    std::optional<size_t> WriteWholeFile(std::string_view path, std::span<const uint8_t> bytes,
                                         const FileTimes *times = nullptr) override;
    bool ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) override;
    bool CopyFileOver(std::string_view from, std::string_view to) override;
    bool RemoveFile(std::string_view path) override;
    bool Exists(std::string_view path) override;
    bool CreateFolder(std::string_view path) override;
    bool RemoveFolder(std::string_view path) override;
    bool DeleteTree(std::string_view path) override;
    std::optional<std::string> WorkingDirectory() override;
    bool SetWorkingDirectory(std::string_view path) override;

  private:
    std::string tempRoot_;
};

}  // namespace fwpack
