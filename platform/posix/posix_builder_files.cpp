// The builder's files on Linux: O_NOATIME reads, mkstemp and rename(2).
#include "platform/builder_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_files.h"

namespace fwpack {

namespace {

std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool WriteTemp(const std::string &path, const std::vector<uint8_t> &bytes, unsigned mode,
               std::string &temp, std::string &error) {
    temp = path + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) { error = Why("cannot create a file beside", path); return false; }
    temp = name.data();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) { error = Why("cannot write", temp); ::close(fd); ::unlink(temp.c_str()); return false; }
        done += size_t(n);
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0) {
        error = Why("cannot finish", temp);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) { error = Why("cannot open", path); return false; }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file: " + path;
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
    struct timespec t[2] = {TimespecFromFileTime(times.LastAccess), TimespecFromFileTime(times.LastWrite)};
    if (::utimensat(AT_FDCWD, path.c_str(), t, 0) != 0) {
        error = "cannot set the times of " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

AtomicFileSet::~AtomicFileSet() {
    for (auto &[temp, final] : staged_) ::unlink(temp.c_str());
}

bool AtomicFileSet::Stage(const std::string &path, const std::vector<uint8_t> &bytes,
                          std::string &error, unsigned mode) {
    std::string temp;
    if (!WriteTemp(path, bytes, mode, temp, error)) return false;
    staged_.emplace_back(temp, path);
    return true;
}

bool RenameOver(const std::string &from, const std::string &to, std::string &error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = Why("cannot rename to", to);
    return false;
}

}  // namespace fwpack
