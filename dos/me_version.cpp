#include "dos/me_version.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dos/bios_version.h"
#include "dos/file_source.h"
#include "payload/bytes.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {
constexpr char kFwVersionPrefix[] = "FW Version:";
constexpr size_t kLogVersionIndex = 40;
constexpr size_t kLogLineRoom = 256;   // 255 characters and the NUL
constexpr size_t kMeScanChunkSize = 65536;
}  // namespace

std::string MeVersionText(const MeVersion &v) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
    return text;
}

void VerStrtoInt(std::string_view text, MeVersion &version) {
    std::array<std::string, 4> parts;
    int k = 0;   // the leading '.' opens part 0
    for (char c : text) {
        if (c == '.') {
            ++k;
            continue;
        }
        if (k < 4 && parts[k].size() < 5) parts[k].push_back(c);
    }
    for (int i = 0; i < 4; ++i) version[i] = uint16_t(LeadingNumber(parts[i]));
}

bool GetCurMEVersion(const std::string &logPath, MeVersion &version, DosConsole &console) {
    std::FILE *log = std::fopen(logPath.c_str(), "r");
    if (!log) {
        console.Write("Can't open ME log file.\n");
        return false;
    }
    char line[kLogLineRoom];
    bool found = false;
    while (std::fgets(line, sizeof line, log)) {
        if (std::strncmp(line, kFwVersionPrefix, sizeof kFwVersionPrefix - 1) == 0) {
            found = true;
            break;
        }
    }
    std::fclose(log);
    if (!found) {
        console.Write("There is not FW version in log file.\n");
        return false;
    }
    size_t length = std::strlen(line);
    std::string_view text;
    if (length > kLogVersionIndex + 1)
        text = std::string_view(line + kLogVersionIndex, length - kLogVersionIndex - 1);
    VerStrtoInt(text, version);
    return true;
}

bool GetNewMEVersion(const std::string &imagePath, MeVersion &version, DosConsole &console) {
    std::FILE *image = std::fopen(imagePath.c_str(), "rb");
    if (!image) {
        console.Write("Bin file do not exist.\n");
        return false;
    }
    static constexpr uint8_t kMarker[4] = {'$', 'M', 'N', '2'};
    const Marker marker{kMarker, sizeof kMarker};
    std::vector<uint8_t> chunk(kMeScanChunkSize);
    FileByteSource source(image);
    const MarkerHit hit = FindMarker(source, 0, UINT64_MAX, &marker, 1, chunk.data(), chunk.size());
    const long at = hit.Found && hit.Offset <= uint64_t(LONG_MAX - 8) ? long(hit.Offset) : -1;
    if (at < 0) {
        std::fclose(image);
        console.Write("\nCan't find the flag '$MN2' in bin file!");
        return false;
    }
    uint8_t words[8];
    bool whole = std::fseek(image, at + 8, SEEK_SET) == 0 && std::fread(words, 1, sizeof words, image) == sizeof words;
    std::fclose(image);
    if (!whole) return false;   // the words would lie past the end
    for (int k = 0; k < 4; ++k) ReadU16(words, sizeof words, 2 * size_t(k), version[k]);
    return version[0] || version[1] || version[2] || version[3];
}

int CompareMEVersion(const MeVersion &current, const MeVersion &newVersion) {
    for (int k = 0; k < 4; ++k) {
        if (newVersion[k] > current[k]) return 2;
        if (newVersion[k] < current[k]) return 1;
    }
    return 0;
}

}  // namespace fwpack
