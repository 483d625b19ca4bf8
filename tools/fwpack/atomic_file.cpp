#include "atomic_file.h"

#include "platform/posix/posix_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fwpack {

static std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

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

static bool WriteTemp(const std::string &path, const std::vector<uint8_t> &bytes, unsigned mode,
                      std::string &temp, std::string &error) {
    temp = path + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) { error = Why("cannot create a file beside", path); return false; }
    temp = name.data();
    if (WriteAll(fd, bytes.data(), bytes.size()) != bytes.size()) {
        error = Why("cannot write", temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0) {
        error = Why("cannot finish", temp);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string &error, unsigned mode) {
    AtomicFileSet set;
    return set.Stage(path, bytes, error, mode) && set.Commit(error);
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

bool AtomicFileSet::Commit(std::string &error) {
    for (size_t i = 0; i < staged_.size(); ++i) {
        if (std::rename(staged_[i].first.c_str(), staged_[i].second.c_str()) != 0) {
            error = Why("cannot rename to", staged_[i].second);
            staged_.erase(staged_.begin(), staged_.begin() + long(i));
            return false;
        }
    }
    staged_.clear();
    return true;
}

}  // namespace fwpack
