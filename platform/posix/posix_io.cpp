#include "platform/posix/posix_io.h"

#include <cerrno>
#include <unistd.h>

namespace fwpack {

namespace {

template <typename Byte, typename Call>
size_t Continue(Byte *data, size_t size, Call call) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = call(data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

}  // namespace

size_t WriteAll(int fd, const void *data, size_t size) {
    return Continue(static_cast<const uint8_t *>(data), size,
                    [fd](const uint8_t *at, size_t n) { return ::write(fd, at, n); });
}

size_t ReadAll(int fd, void *data, size_t size) {
    return Continue(static_cast<uint8_t *>(data), size,
                    [fd](uint8_t *at, size_t n) { return ::read(fd, at, n); });
}

}  // namespace fwpack
