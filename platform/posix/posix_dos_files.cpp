#include "platform/posix/posix_dos_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_io.h"

namespace fwpack {

DosFile PosixDosFiles::OpenForReading(const char *path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

DosFile PosixDosFiles::CreateForWriting(const char *path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? kNoFile : fd;
}

bool PosixDosFiles::Seek(DosFile file, uint32_t offset) {
    return ::lseek(file, off_t(offset), SEEK_SET) == off_t(offset);
}

bool PosixDosFiles::Length(DosFile file, uint32_t &length) {
    struct stat st {};
    if (::fstat(file, &st) != 0 || st.st_size < 0 || uint64_t(st.st_size) > UINT32_MAX) return false;
    length = uint32_t(st.st_size);
    return true;
}

size_t PosixDosFiles::Read(DosFile file, uint8_t *out, size_t count) { return ReadAll(file, out, count); }

// A file that may grow no further (EFBIG, a size limit) is as full as a
// full disk to the run.
size_t PosixDosFiles::Write(DosFile file, const uint8_t *data, size_t count) {
    errno = 0;
    const size_t written = WriteAll(file, data, count);
    if (written < count) diskFull_ = errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
    return written;
}

bool PosixDosFiles::Close(DosFile file) { return ::close(file) == 0; }

bool PosixDosFiles::Remove(const char *path) { return ::unlink(path) == 0; }

bool PosixDosFiles::Exists(const char *path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

}  // namespace fwpack
