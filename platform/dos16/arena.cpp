#include "platform/dos16/arena.h"

namespace dos16 {

void *Arena::Allocate(size_t count, size_t size) {
    if (size && count > SIZE_MAX / size)
        return nullptr;
    size_t bytes = (count * size + 3) & ~size_t(3);
    if (bytes < count * size || bytes > size_ - used_)
        return nullptr;
    void *block = base_ + used_;
    used_ += bytes;
    return block;
}

void *ArenaZAlloc(void *arena, unsigned items, unsigned size) {
    return static_cast<Arena *>(arena)->Allocate(items, size);
}

void ArenaZFree(void *, void *) {}

}  // namespace dos16
