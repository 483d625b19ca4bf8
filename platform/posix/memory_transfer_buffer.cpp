#include "platform/posix/memory_transfer_buffer.h"

#include <cstring>
#include <new>

namespace fwpack {

bool MemoryTransferBuffer::Allocate(size_t size) {
    try {
        bytes_.assign(size, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void MemoryTransferBuffer::Fill(uint8_t value, size_t count) {
    if (!bytes_.empty()) std::memset(bytes_.data(), value, Clamp(count));
}

size_t MemoryTransferBuffer::ReadFrom(DosFile file, size_t count) {
    return files_.Read(file, bytes_.data(), Clamp(count));
}

size_t MemoryTransferBuffer::WriteTo(DosFile file, size_t count) {
    return files_.Write(file, bytes_.data(), Clamp(count));
}

}  // namespace fwpack
