// The builder's files on Linux: O_NOATIME reads of regular files, mkstemp
// beside the target and rename(2).
#include "platform/builder_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_files.h"
#include "platform/posix/posix_io.h"

namespace fwpack {

namespace {

std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Opens path for reading when it is a regular file, else -1 with error
// set. Reads do not move the access time where the system allows it
// (O_NOATIME needs the file's owner).
int OpenRegularFile(const std::string &path, std::string &error) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) { error = Why("cannot open", path); return -1; }
    if (!S_ISREG(st.st_mode)) { error = "not a regular file: " + path; return -1; }
    // The type may change between stat and open: open without blocking,
    // look again at what was opened, then make reads block as usual.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), flags);
    if (fd < 0) { error = Why("cannot open", path); return -1; }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = "not a regular file: " + path;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                   uint64_t maxSize) {
    int fd = OpenRegularFile(path, error);
    if (fd < 0) return false;
    struct stat st{};
    ::fstat(fd, &st);
    if (uint64_t(st.st_size) > maxSize) {
        error = path + " is " + std::to_string(st.st_size) + " bytes; at most " +
                std::to_string(maxSize) + " fit";
        ::close(fd);
        return false;
    }
    out.clear();
    out.reserve(size_t(st.st_size));
    uint8_t buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { error = Why("cannot read", path); ::close(fd); return false; }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return true;
}

bool ReadSourceFileTimes(const std::string &path, SourceFileTimes &out, std::string &error) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        error = "cannot read the times of " + path + ": " + std::strerror(errno);
        return false;
    }
    auto ft = [](const struct statx_timestamp &s) { return FileTimeFromUnix(s.tv_sec, s.tv_nsec); };
    out.LastAccess = ft(sx.stx_atime);
    out.LastWrite = ft(sx.stx_mtime);
    out.CreationIsBirthTime = (sx.stx_mask & STATX_BTIME) != 0;
    out.Creation = out.CreationIsBirthTime ? ft(sx.stx_btime) : out.LastWrite;
    return true;
}

bool ApplyFileTimes(const std::string &path, const SourceFileTimes &times, std::string &error) {
    struct timespec t[2] = {TimespecFromFileTime(times.LastAccess),
                            TimespecFromFileTime(times.LastWrite)};
    if (::utimensat(AT_FDCWD, path.c_str(), t, 0) != 0) {
        error = "cannot set the times of " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

FileNameRoom NameRoomIn(const std::string &folder, const std::string &name) {
    long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return {name.size(), limit > 0 ? size_t(limit) : 0, "bytes"};
}

AtomicFileSet::~AtomicFileSet() {
    if (open_ >= 0) ::close(int(open_));
    for (auto &[temp, final] : staged_) {
        ::unlink(temp.c_str());
        ForgetOnInterrupt(temp);
    }
}

bool AtomicFileSet::Open(const std::string &path, std::string &error, unsigned mode) {
    // rename() would put a file in the place of a device or a FIFO.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + " exists and is not a regular file; refusing to replace it";
        return false;
    }
    // A short name of its own, so that a target name of any valid length
    // still leaves room for it.
    std::string dir = std::filesystem::path(path).parent_path().string();
    std::string temp = (dir.empty() ? "." : dir) + "/.fwpack-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) { error = Why("cannot create a file beside", path); return false; }
    open_ = fd;
    staged_.emplace_back(name.data(), path);
    RemoveOnInterrupt(name.data());
    mode_ = mode;
    return true;
}

bool AtomicFileSet::Append(const uint8_t *data, size_t size, std::string &error) {
    if (WriteAll(int(open_), data, size) == size) return true;
    error = Why("cannot write", staged_.back().second);
    return false;
}

bool AtomicFileSet::Close(std::string &error) {
    int fd = int(open_);
    open_ = -1;
    bool ok = ::fchmod(fd, mode_) == 0 && ::fsync(fd) == 0;
    if (!ok) error = Why("cannot finish", staged_.back().second);
    if (::close(fd) != 0 && ok) {
        error = Why("cannot finish", staged_.back().second);
        ok = false;
    }
    return ok;
}

bool RenameOver(const std::string &from, const std::string &to, std::string &error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = Why("cannot rename to", to);
    return false;
}

}  // namespace fwpack
