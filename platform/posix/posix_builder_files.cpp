// The builder's files on Linux: O_NOATIME reads of regular files, unnamed
// temporaries (O_TMPFILE, else mkstemp) beside the target and rename(2).
#include "platform/builder_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <random>
#include <set>
#include <sys/file.h>
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

namespace {

// A file staged without a name (O_TMPFILE) is known by the path of its
// descriptor until the commit links it into place: a killed build leaves
// nothing behind. Where the folder's filesystem cannot make unnamed files
// the temporary is named, and held under a lock while this program lives,
// so that the next build into the folder can tell a killed build's leftover
// from a temporary still being written.
constexpr char kDescriptorPrefix[] = "/proc/self/fd/";
constexpr char kTempPrefix[] = ".fwpack-";
// Unnamed files stay open until the commit: a set of many files (an
// extraction) names the rest from the start rather than run out of
// descriptors.
constexpr size_t kUnnamedAtOnce = 64;

int UnnamedDescriptor(const std::string &temp) {
    if (temp.rfind(kDescriptorPrefix, 0) != 0) return -1;
    return std::atoi(temp.c_str() + sizeof kDescriptorPrefix - 1);
}

std::string FolderOf(const std::string &path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? "." : dir;
}

// Removes the named temporaries of builds that were killed: each one's
// lock is free once its writer is gone. Once per folder and program.
void RemoveStaleTemporaries(const std::string &dir) {
    static std::set<std::string> swept;
    if (!swept.insert(dir).second) return;
    DIR *d = ::opendir(dir.c_str());
    if (!d) return;
    while (const struct dirent *e = ::readdir(d)) {
        if (std::strncmp(e->d_name, kTempPrefix, sizeof kTempPrefix - 1) != 0 ||
            std::strlen(e->d_name) != sizeof kTempPrefix - 1 + 6)
            continue;
        int fd = ::openat(::dirfd(d), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

// A fresh name for a temporary in dir: .fwpack- and six random characters.
std::string TempName(const std::string &dir) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::random_device random;
    std::string name = dir + "/" + kTempPrefix;
    for (int i = 0; i < 6; ++i) name += kChars[random() % (sizeof kChars - 1)];
    return name;
}

// Gives the unnamed file fd the name to, replacing what is there: linked
// under a fresh temporary name, then renamed over to.
bool LinkIntoPlace(int fd, const std::string &from, const std::string &to, std::string &error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = TempName(FolderOf(to));
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            error = Why("cannot rename to", to);
            return false;
        }
        if (std::rename(temp.c_str(), to.c_str()) != 0) {
            error = Why("cannot rename to", to);
            ::unlink(temp.c_str());
            return false;
        }
        ::close(fd);
        return true;
    }
    errno = EEXIST;
    error = Why("cannot rename to", to);
    return false;
}

// An unnamed file in dir, or -1 where the filesystem (or a missing /proc)
// does not allow one.
int OpenUnnamed(const std::string &dir) {
    if (::access(kDescriptorPrefix, X_OK) != 0) return -1;
    return ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

}  // namespace

AtomicFileSet::~AtomicFileSet() {
    for (auto &[temp, final] : staged_) {
        if (int fd = UnnamedDescriptor(temp); fd >= 0) {
            ::close(fd);
            if (fd == int(open_)) open_ = -1;
            continue;
        }
        ::unlink(temp.c_str());
        ForgetOnInterrupt(temp);
    }
    if (open_ >= 0) ::close(int(open_));
}

bool AtomicFileSet::Open(const std::string &path, std::string &error, unsigned mode) {
    // rename() would put a file in the place of a device or a FIFO.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + " exists and is not a regular file; refusing to replace it";
        return false;
    }
    const std::string dir = FolderOf(path);
    RemoveStaleTemporaries(dir);
    mode_ = mode;
    const size_t unnamed = size_t(std::count_if(staged_.begin(), staged_.end(), [](const auto &staged) {
        return UnnamedDescriptor(staged.first) >= 0;
    }));
    if (int fd = unnamed < kUnnamedAtOnce ? OpenUnnamed(dir) : -1; fd >= 0) {
        ::flock(fd, LOCK_EX);   // held through the moment it has a name
        open_ = fd;
        staged_.emplace_back(kDescriptorPrefix + std::to_string(fd), path);
        return true;
    }
    // A short name of its own, so that a target name of any valid length
    // still leaves room for it.
    std::string temp = dir + "/" + kTempPrefix + "XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) { error = Why("cannot create a file beside", path); return false; }
    ::flock(fd, LOCK_EX);
    open_ = fd;
    staged_.emplace_back(name.data(), path);
    RemoveOnInterrupt(name.data());
    return true;
}

bool AtomicFileSet::Append(const uint8_t *data, size_t size, std::string &error) {
    if (WriteAll(int(open_), data, size) == size) return true;
    error = Why("cannot write", staged_.back().second);
    return false;
}

// A named temporary is closed here; an unnamed one stays open until the
// commit names it (its descriptor is its only way in).
bool AtomicFileSet::Close(std::string &error) {
    int fd = int(open_);
    open_ = -1;
    bool ok = ::fchmod(fd, mode_) == 0 && ::fsync(fd) == 0;
    if (!ok) error = Why("cannot finish", staged_.back().second);
    if (UnnamedDescriptor(staged_.back().first) >= 0) return ok;
    if (::close(fd) != 0 && ok) {
        error = Why("cannot finish", staged_.back().second);
        ok = false;
    }
    return ok;
}

bool RenameOver(const std::string &from, const std::string &to, std::string &error) {
    if (int fd = UnnamedDescriptor(from); fd >= 0) return LinkIntoPlace(fd, from, to, error);
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = Why("cannot rename to", to);
    return false;
}

}  // namespace fwpack
