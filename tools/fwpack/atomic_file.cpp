#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "interrupt_cleanup.h"
#include "platform/posix/posix_io.h"

namespace fwpack {

static std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

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

bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string &error, unsigned mode) {
    AtomicFileSet set;
    return set.Stage(path, bytes, error, mode) && set.Commit(error);
}

AtomicFileSet::~AtomicFileSet() {
    if (fd_ >= 0) ::close(fd_);
    for (auto &[temp, final] : staged_) Discard(temp);
}

void AtomicFileSet::Discard(const std::string &temp) {
    ::unlink(temp.c_str());
    ForgetOnInterrupt(temp);
}

bool AtomicFileSet::Stage(const std::string &path, const std::vector<uint8_t> &bytes,
                          std::string &error, unsigned mode) {
    return Open(path, error, mode) && Append(bytes.data(), bytes.size(), error) && Close(error);
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
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) { error = Why("cannot create a file beside", path); return false; }
    staged_.emplace_back(name.data(), path);
    RemoveOnInterrupt(name.data());
    mode_ = mode;
    return true;
}

bool AtomicFileSet::Append(const uint8_t *data, size_t size, std::string &error) {
    if (WriteAll(fd_, data, size) == size) return true;
    error = Why("cannot write", staged_.back().first);
    return false;
}

bool AtomicFileSet::Close(std::string &error) {
    int fd = fd_;
    fd_ = -1;
    bool ok = ::fchmod(fd, mode_) == 0 && ::fsync(fd) == 0;
    if (!ok) error = Why("cannot finish", staged_.back().first);
    if (::close(fd) != 0 && ok) {
        error = Why("cannot finish", staged_.back().first);
        ok = false;
    }
    return ok;
}

bool AtomicFileSet::Commit(std::string &error) {
    for (size_t i = 0; i < staged_.size(); ++i) {
        if (std::rename(staged_[i].first.c_str(), staged_[i].second.c_str()) != 0) {
            error = Why("cannot rename to", staged_[i].second);
            for (size_t k = 0; k < i; ++k) ForgetOnInterrupt(staged_[k].first);
            staged_.erase(staged_.begin(), staged_.begin() + long(i));
            return false;
        }
    }
    for (auto &[temp, final] : staged_) ForgetOnInterrupt(temp);
    staged_.clear();
    return true;
}

}  // namespace fwpack
