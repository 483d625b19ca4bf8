// The DOS updater's tag scan against a plain read of the same 64 MiB file,
// measured side by side in one run (best of several rounds each, the file
// in the page cache). The scan reads 64 KiB chunks that overlap by 11 bytes
// and jumps from '$' to '$'; the target is 0.3 or more of the plain read's
// speed. For scale, the per-offset seek and 12-byte read is timed on 1 MiB.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "dos/tag_scan.h"
#include "payload/dos_limits.h"
#include "platform/posix/posix_dos_files.h"

using namespace fwpack;

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kFileSize = 64L << 20;
constexpr int kRounds = 7;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool WriteNoise(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<uint8_t> chunk(1 << 20);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (long done = 0; done < kFileSize; done += long(chunk.size())) {
        for (auto &b : chunk) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            b = uint8_t(x >> 24);
        }
        std::fwrite(chunk.data(), 1, chunk.size(), f);
    }
    return std::fclose(f) == 0;
}

double PlainRead(const std::string &path, uint64_t &sink) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> buffer(kDosTransferSize);
    auto start = Clock::now();
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) sink += buffer[n - 1];
    double t = Seconds(Clock::now() - start);
    std::fclose(f);
    return t;
}

double Scan(const std::string &path, long &found) {
    PosixDosFiles files;
    DosFile f = files.OpenForReading(path.c_str());
    auto start = Clock::now();
    std::vector<uint8_t> chunk(kDosTransferSize);
    TagScanner scanner(files, f, kFileSize, chunk.data(), chunk.size());
    uint16_t id = 0;
    found = scanner.FindTag(0, kFileSize - 20, &id);
    double t = Seconds(Clock::now() - start);
    files.Close(f);
    return t;
}

// A seek and a 12-byte line read at every offset of the first span bytes.
double PerOffset(const std::string &path, long span) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    char text[13];
    long matches = 0;
    auto start = Clock::now();
    for (long p = 0; p < span; ++p) {
        std::fseek(f, p, SEEK_SET);
        if (std::fgets(text, sizeof text, f) && std::strncmp(text, "$__OPTION__", 11) == 0) ++matches;
    }
    double t = Seconds(Clock::now() - start);
    std::fclose(f);
    return t + double(matches) * 0;
}

}  // namespace

int main() {
    std::string path = "/tmp/bench_dos_scan." + std::to_string(::getpid());
    if (!WriteNoise(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    uint64_t sink = 0;
    long found = 0;
    PlainRead(path, sink);   // into the page cache
    double plain = 1e9, scan = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        plain = std::min(plain, PlainRead(path, sink));
        scan = std::min(scan, Scan(path, found));
    }
    double perOffset = PerOffset(path, 1L << 20) * double(kFileSize >> 20);
    std::remove(path.c_str());

    double mib = double(kFileSize) / (1 << 20);
    std::printf("file            %.0f MiB of noise, no tags (scan result %ld)\n", mib, found);
    std::printf("plain read      %8.2f ms  %8.0f MiB/s\n", plain * 1e3, mib / plain);
    std::printf("tag scan        %8.2f ms  %8.0f MiB/s\n", scan * 1e3, mib / scan);
    std::printf("per-offset read %8.0f ms  (1 MiB timed, scaled to %.0f MiB)\n", perOffset * 1e3, mib);
    std::printf("scan speed / plain read speed = %.2f (target >= 0.30)%s\n", plain / scan,
                plain / scan >= 0.3 ? "" : "  BELOW TARGET");
    return sink == 42 ? 2 : 0;
}
