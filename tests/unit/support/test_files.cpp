#include "support/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_files.h"

namespace fwpack::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fwpack-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string &path) { return std::filesystem::exists(path); }

std::vector<uint8_t> Deflate(const std::vector<uint8_t> &data, int windowBits, int level) {
    z_stream s{};
    if (deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::vector<uint8_t> out(deflateBound(&s, uLong(data.size())) + 16);
    s.next_in = const_cast<Bytef *>(data.data());
    s.avail_in = uInt(data.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const int rc = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::vector<uint8_t> SampleBytes(size_t size, uint32_t seed) {
    static const char kText[] = "flash block erase verify write; ";
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        switch ((x >> 16) % 3) {
        case 0: out.insert(out.end(), 1 + (x >> 24) % 40, uint8_t(x >> 8)); break;
        case 1: out.insert(out.end(), kText, kText + sizeof kText - 1); break;
        default:
            for (int i = 0; i < 24; ++i) { x = x * 1103515245u + 12345u; out.push_back(uint8_t(x >> 16)); }
        }
    }
    out.resize(size);
    return out;
}

FileTimes FileTimesOf(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    FileTimes t;
    t.LastAccess = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    t.LastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return t;
}

}  // namespace fwpack::test
