#include "platform/posix/memory_transfer_buffer.h"

#include <new>

namespace fwpack {

bool MemoryTransferBuffer::Allocate(size_t size) {
    try {
        bytes_.assign(size, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    UseBlock(bytes_.data(), bytes_.size());
    return true;
}

}  // namespace fwpack
