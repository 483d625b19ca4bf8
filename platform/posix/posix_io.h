// Reading and writing through a file descriptor, continued over partial
// transfers and interrupted calls: the one loop of each kind on POSIX.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// The number of bytes written; short only when a write failed (errno tells).
size_t WriteAll(int fd, const void *data, size_t size);
// The number of bytes read; short at the end of the file or when a read
// failed.
size_t ReadAll(int fd, void *data, size_t size);

}  // namespace fwpack
