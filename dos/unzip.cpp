#include "dos/unzip.h"

#include <zlib.h>

#include "payload/resource_layout.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {

constexpr size_t kAlign = 16;

size_t AlignUp(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// zlib's only heap: blocks cut one after another from a fixed room, all of
// them given back at once when the run ends.
struct BumpArena {
    uint8_t *Base;
    size_t Room;
    size_t Used;
};

voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size) {
    BumpArena &arena = *static_cast<BumpArena *>(opaque);
    if (size != 0 && items > (arena.Room - arena.Used) / size) return Z_NULL;
    const size_t bytes = AlignUp(size_t(items) * size);
    if (bytes > arena.Room - arena.Used) return Z_NULL;
    uint8_t *block = arena.Base + arena.Used;
    arena.Used += bytes;
    return block;
}
void ArenaFree(voidpf, voidpf) {}

// One run: the stream, the two files and the two pieces of work memory.
class Inflater {
  public:
    Inflater(DosFiles &files, DosFile in, DosFile out, uint8_t *input, uint8_t *output, size_t piece)
        : files_(files), in_(in), out_(out), input_(input), output_(output), piece_(piece) {}

    int Run(BumpArena &arena);

  private:
    // Refills the input when it is used up; what is left to inflate.
    size_t LoadInput();
    // Writes what the output piece holds; the number of bytes written.
    size_t FlushOutput();

    DosFiles &files_;
    DosFile in_, out_;
    uint8_t *input_, *output_;
    size_t piece_;
    z_stream stream_{};
    int err_ = Z_OK;
};

size_t Inflater::LoadInput() {
    if (stream_.avail_in == 0) {
        stream_.next_in = input_;
        // A read error counts as the end of the input.
        stream_.avail_in = uInt(files_.Read(in_, input_, piece_));
    }
    return stream_.avail_in;
}

size_t Inflater::FlushOutput() {
    const size_t n = piece_ - stream_.avail_out;
    if (n == 0) return 0;
    if (files_.Write(out_, output_, n) != n) {
        err_ = kUnzipWriteFailed;
        return 0;
    }
    stream_.next_out = output_;
    stream_.avail_out = uInt(piece_);
    return n;
}

int Inflater::Run(BumpArena &arena) {
    stream_.zalloc = ArenaAlloc;
    stream_.zfree = ArenaFree;
    stream_.opaque = &arena;
    stream_.next_out = output_;
    stream_.avail_out = uInt(piece_);
    // A failed start leaves no inflater state: the first inflate then
    // reports a stream error, which ends the run as a zlib error.
    inflateInit2(&stream_, kPayloadWindowBits);
    while (LoadInput() != 0) {
        err_ = inflate(&stream_, Z_NO_FLUSH);
        FlushOutput();
        if (err_ != Z_OK) break;
    }
    // The end of the input: what the stream still holds, or why it is cut.
    while (err_ != kUnzipWriteFailed) {
        err_ = inflate(&stream_, Z_FINISH);
        if (FlushOutput() == 0 || err_ != Z_OK) break;
    }
    inflateEnd(&stream_);
    return err_;
}

}  // namespace

const char *UnzipLibraryVersion() { return zlibVersion(); }

int unzip(DosFiles &files, const char *inputPath, const char *outputPath, uint8_t *work,
          size_t workSize) {
    if (work == nullptr || workSize < kUnzipWorkMin) return Z_MEM_ERROR;
    const DosFile in = files.OpenForReading(inputPath);
    if (in == kNoFile) return kUnzipOpenFailed;
    const DosFile out = files.CreateForWriting(outputPath);
    if (out == kNoFile) {
        files.Close(in);
        return kUnzipOpenFailed;
    }
    // The work memory: the arena first, then the input and output pieces.
    const size_t skew = size_t(reinterpret_cast<uintptr_t>(work) % kAlign);
    const size_t lead = skew == 0 ? 0 : kAlign - skew;
    BumpArena arena{work + lead, kUnzipStateRoom - lead, 0};
    const size_t piece = (workSize - kUnzipStateRoom) / 2;
    Inflater inflater(files, in, out, work + kUnzipStateRoom, work + kUnzipStateRoom + piece, piece);
    int err = inflater.Run(arena);
    files.Close(in);
    // A full disk may only show when the file is closed: a short write all
    // the same, never a success.
    if (!files.Close(out)) err = kUnzipWriteFailed;
    return err == Z_OK || err == Z_STREAM_END ? Z_OK : err;
}

}  // namespace fwpack
