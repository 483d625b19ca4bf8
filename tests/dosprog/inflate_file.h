// The inflate the DOS test programs share: a zlib stream (window bits 10)
// from one file into another through the caller's buffers, zlib's state
// drawn from the caller's arena memory.
#pragma once
#include "platform/dos16/arena.h"
#include "platform/dos16/runtime.h"
#include "zlib.h"

namespace dosprog {

struct Buffer {
    uint8_t *data;
    uint16_t size;
};

// Prints "WHAT failed: CODE" and answers 1, the programs' failure exit.
inline int Fail(const char *what, int32_t code) {
    dos16::Printf("%s failed: %d\r\n", what, code);
    return 1;
}

// Prints adler=, out= (bytes) and arena= (bytes zlib took); 0, or 1 after
// a failure line.
inline int InflateFile(const char *from, const char *to, Buffer input, Buffer output,
                       Buffer arenaMemory) {
    using namespace dos16;
    int32_t src = OpenFile(from, OpenMode::Read), dst = CreateFile(to);
    if (src < 0 || dst < 0)
        return Fail("open", src < 0 ? src : dst);
    Arena arena(arenaMemory.data, arenaMemory.size);
    z_stream z{};
    z.zalloc = ArenaZAlloc;
    z.zfree = ArenaZFree;
    z.opaque = &arena;
    if (int e = inflateInit2(&z, 10); e != Z_OK)
        return Fail("inflateInit2", e);
    uint32_t total = 0;
    for (int e = Z_OK; e != Z_STREAM_END;) {
        if (z.avail_in == 0) {
            int32_t n = ReadFile(int(src), input.data, input.size);
            if (n <= 0)
                return Fail("read", n);
            z.next_in = input.data;
            z.avail_in = unsigned(n);
        }
        z.next_out = output.data;
        z.avail_out = output.size;
        e = inflate(&z, Z_NO_FLUSH);
        if (e != Z_OK && e != Z_STREAM_END)
            return Fail("inflate", e);
        uint16_t produced = uint16_t(output.size - z.avail_out);
        if (WriteFile(int(dst), output.data, produced) != produced)
            return Fail("write", produced);
        total += produced;
    }
    Printf("adler=%08X out=%u arena=%u\r\n", uint32_t(z.adler), total, uint32_t(arena.Used()));
    inflateEnd(&z);
    CloseFile(int(src));
    CloseFile(int(dst));
    return 0;
}

}  // namespace dosprog
