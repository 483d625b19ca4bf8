// POSIX files and folders for the seam.
#include "platform/posix/posix_files.h"

#include "platform/posix/posix_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fwpack {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

std::string Str(std::string_view s) { return std::string(s); }

int RemoveEntry(const char *path, const struct stat *, int type, FTW *) {
    return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    // Compared before adding and multiplying, so nothing overflows.
    if (seconds < -kEpochDelta) return 0;
    if (seconds > int64_t(UINT64_MAX / kTicksPerSecond) - kEpochDelta) return UINT64_MAX;
    const uint64_t ticks = uint64_t(seconds + kEpochDelta) * kTicksPerSecond;
    const uint64_t below = uint64_t(nanoseconds / 100);
    return ticks > UINT64_MAX - below ? UINT64_MAX : ticks + below;
}

void UnixFromFileTime(uint64_t fileTime, int64_t &seconds, int64_t &nanoseconds) {
    seconds = int64_t(fileTime / kTicksPerSecond) - kEpochDelta;
    nanoseconds = int64_t(fileTime % kTicksPerSecond) * 100;
}

timespec TimespecFromFileTime(uint64_t fileTime) {
    int64_t s = 0, ns = 0;
    UnixFromFileTime(fileTime, s, ns);
    timespec t{};
    t.tv_sec = time_t(s);
    t.tv_nsec = long(ns);
    return t;
}

PosixFileSystem::PosixFileSystem(std::string tempRoot) : tempRoot_(std::move(tempRoot)) {
    if (tempRoot_.empty()) {
        const char *env = std::getenv("TMPDIR");
        tempRoot_ = (env && *env) ? env : "/tmp/";
    }
    if (tempRoot_.back() != '/') tempRoot_.push_back('/');
}

std::string PosixFileSystem::TempRoot() { return tempRoot_; }

std::optional<std::string> PosixFileSystem::TempFileName(std::string_view folder,
                                                         std::string_view prefix,
                                                         uint32_t unique) {
    std::string head = Str(folder) + Str(prefix.substr(0, 3));
    auto form = [&](uint32_t n) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X.TMP", unsigned(n & 0xFFFF));
        return head + hex;
    };
    if (head.size() + 8 >= kSystemPathRoom) return std::nullopt;
    if (unique & 0xFFFF) return form(unique);
    // The service picks a free name itself and keeps it by creating it.
    for (uint32_t n = (uint32_t(::getpid()) & 0xFFFF) | 1, tries = 0; tries < 0xFFFF;
         ++tries, n = (n % 0xFFFF) + 1) {
        std::string name = form(n);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<size_t> PosixFileSystem::WriteWholeFile(std::string_view path,
                                                      std::span<const uint8_t> bytes,
                                                      const FileTimes *times) {
    int fd = ::open(Str(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return std::nullopt;
    size_t written = WriteAll(fd, bytes.data(), bytes.size());
    if (times) {
        // POSIX keeps no creation time: only access and write times are set.
        timespec t[2] = {TimespecFromFileTime(times->LastAccess), TimespecFromFileTime(times->LastWrite)};
        (void)::futimens(fd, t);
    }
    ::close(fd);
    return written;
}

bool PosixFileSystem::ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) {
    out.clear();
    int fd = ::open(Str(path).c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    try {
        out.assign(size_t(st.st_size), 0);
    } catch (const std::bad_alloc &) {
        ::close(fd);   // no buffer for it: unreadable, and nothing throws
        return false;
    }
    (void)ReadAll(fd, out.data(), out.size());
    ::close(fd);
    return true;
}

bool PosixFileSystem::CopyFileOver(std::string_view from, std::string_view to) {
    int in = ::open(Str(from).c_str(), O_RDONLY);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    int out = ::open(Str(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (WriteAll(out, buffer, size_t(n)) != size_t(n)) {
            ok = false;
            break;
        }
    }
    // The copy keeps the source's last write time, as the Windows copy does.
    timespec t[2] = {{0, UTIME_OMIT}, st.st_mtim};
    (void)::futimens(out, t);
    if (::close(out) != 0) ok = false;
    ::close(in);
    return ok;
}

bool PosixFileSystem::RemoveFile(std::string_view path) {
    struct stat st {};
    std::string p = Str(path);
    if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(p.c_str()) == 0;
}

bool PosixFileSystem::Exists(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::stat(Str(path).c_str(), &st) == 0;
}

bool PosixFileSystem::CreateFolder(std::string_view path) {
    return ::mkdir(Str(path).c_str(), 0755) == 0;
}

bool PosixFileSystem::RemoveFolder(std::string_view path) {
    return ::rmdir(Str(path).c_str()) == 0;
}

bool PosixFileSystem::DeleteTree(std::string_view path) {
    std::string p = Str(path);
    struct stat st {};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) return ::unlink(p.c_str()) == 0;
    // Depth first, never following links out of the tree.
    return ::nftw(p.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

std::optional<std::string> PosixFileSystem::WorkingDirectory() {
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer)) return std::nullopt;
    std::string cwd(buffer);
    if (cwd.size() >= kSystemPathRoom) return std::nullopt;
    return cwd;
}

bool PosixFileSystem::SetWorkingDirectory(std::string_view path) {
    return !path.empty() && ::chdir(Str(path).c_str()) == 0;
}

}  // namespace fwpack
