#include "platform/posix/posix_log_file.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace fwpack {

PosixLogFile::~PosixLogFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool PosixLogFile::Open(std::string_view path) {
    fd_ = ::open(std::string(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool PosixLogFile::Append(std::string_view line) {
    if (fd_ < 0) return false;
    // Texts are UTF-8 here already.
    std::string bytes = std::string(line) + "\n";
    bool ok = ::write(fd_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    return ::fdatasync(fd_) == 0 && ok;
}

std::string PosixLogFile::Now() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  int(now.tv_usec / 1000));
    return text;
}

}  // namespace fwpack
