// Files and folders: what the update run, the start-up and the DOS
// updater's host layer need from the file system.
//
// Paths are 8-bit strings in the system code page. A folder path that the
// logic builds always ends with Separator(); the logic joins a folder and a
// name by plain concatenation. On Windows the separator is '\\'; the POSIX
// implementation uses '/' (a '\\' in a POSIX path is an ordinary character).
// Relative paths are resolved in the process working directory.
//
// No method throws. Failures are the results stated on each method.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwpack {

// The room, in bytes with the closing NUL, that the system's path services
// give a path (the Windows path limit); the POSIX side holds itself to it.
inline constexpr size_t kSystemPathRoom = 260;

// FILETIMEs: 100 ns units since 1601-01-01 UTC.
struct FileTimes {
    uint64_t Creation = 0;
    uint64_t LastAccess = 0;
    uint64_t LastWrite = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The folder separator the logic appends to folder paths: '\\' on
    // Windows, '/' on POSIX. Two separators in a row must be read as one.
    virtual char Separator() const = 0;

    // The temp root, ending with Separator() (GetTempPathA). Empty when the
    // platform cannot give one.
    virtual std::string TempRoot() = 0;

    // The unique temp name service (GetTempFileNameA): folder (ending with
    // the separator) + the first three characters of prefix + the low 16
    // bits of unique in upper-case hexadecimal without leading zeros +
    // ".TMP". When those low 16 bits are non-zero nothing is created and
    // existence is not checked. When they are zero, the service picks a
    // name that does not exist yet and creates it as an empty file.
    // nullopt when the name cannot be formed (folder missing in the zero
    // case, or the result would not fit kSystemPathRoom with its NUL).
    virtual std::optional<std::string> TempFileName(std::string_view folder,
                                                    std::string_view prefix,
                                                    uint32_t unique) = 0;

    // Creates path anew (an existing file is truncated), writes bytes from
    // offset 0 in one write, sets the three times when given (in one call,
    // before closing), closes. nullopt when the file cannot be created; else
    // the number of bytes written, which is short when the write failed.
    // Setting the times is best effort and does not change the result.
    virtual std::optional<size_t> WriteWholeFile(std::string_view path,
                                                 std::span<const uint8_t> bytes,
                                                 const FileTimes *times = nullptr) = 0;

    // Opens an existing file for reading, takes its size, reads it whole from
    // offset 0 in one read into out (resized to the size and zero-filled
    // first, so bytes not read stay 0), closes. False when the file cannot be
    // opened or no buffer of its size can be had (out is then empty). An
    // empty file gives true and an empty out.
    virtual bool ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) = 0;

    // Copies one file over another (CopyFileA with an existing target
    // replaced); the target gets the source's bytes and last write time.
    // False when the source cannot be read or the target cannot be written.
    virtual bool CopyFileOver(std::string_view from, std::string_view to) = 0;

    // Deletes one file (not a folder). False when it does not exist or
    // cannot be deleted.
    virtual bool RemoveFile(std::string_view path) = 0;

    // Whether path names an existing file or folder (PathFileExistsA). A
    // trailing separator on a folder path is accepted.
    virtual bool Exists(std::string_view path) = 0;

    // Creates one folder level (CreateDirectoryA, no security attributes).
    // A trailing separator is accepted. False when the parent is missing or
    // the path already exists.
    virtual bool CreateFolder(std::string_view path) = 0;

    // Removes an empty folder (RemoveDirectoryA). False when it is not empty,
    // missing, or not a folder.
    virtual bool RemoveFolder(std::string_view path) = 0;

    // Permanent recursive delete of a file or of a folder with everything in
    // it (SHFileOperationA FO_DELETE, flags 0x614: silent, no confirmation,
    // no error UI, no owner window, no recycle bin). path has no trailing
    // separator. True when the operation reported success. Use it through
    // DeleteFolderTree, which handles the trailing separator and a missing
    // path.
    virtual bool DeleteTree(std::string_view path) = 0;

    // The process working directory (GetCurrentDirectoryA); nullopt when it
    // cannot be read or does not fit kSystemPathRoom.
    virtual std::optional<std::string> WorkingDirectory() = 0;
    // Sets the process working directory (SetCurrentDirectoryA). False on
    // failure. A trailing separator is accepted.
    virtual bool SetWorkingDirectory(std::string_view path) = 0;
};

}  // namespace fwpack
