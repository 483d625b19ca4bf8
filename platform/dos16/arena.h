// A fixed bump arena: the only heap a DOS program has. Blocks are freed all
// at once by Reset; zlib's allocator hooks draw from one.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

class Arena {
  public:
    Arena(void *memory, size_t size) : base_(static_cast<uint8_t *>(memory)), size_(size) {}
    // Null when the arena is full or count * size overflows.
    void *Allocate(size_t count, size_t size);
    void Reset() { used_ = 0; }
    size_t Used() const { return used_; }

  private:
    uint8_t *base_;
    size_t size_;
    size_t used_ = 0;
};

// zlib's zalloc and zfree with an Arena as the opaque pointer.
void *ArenaZAlloc(void *arena, unsigned items, unsigned size);
void ArenaZFree(void *arena, void *block);

}  // namespace dos16
