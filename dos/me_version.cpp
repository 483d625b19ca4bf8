#include "dos/me_version.h"

#include <cstring>

#include "dos/bios_version.h"
#include "dos/file_source.h"
#include "payload/bytes.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {
constexpr char kFwVersionPrefix[] = "FW Version:";
constexpr size_t kLogVersionIndex = 40;
constexpr size_t kLogLineRoom = 256;   // 255 characters and the NUL

// The log's lines as a 256-byte line buffer takes them: at most 255
// characters, the '\n' that ends one included; a longer line goes on in
// the next. A log that begins with the UCS-2 byte-order mark (FF FE), as
// the UEFI shell writes redirected output, is read as UCS-2 little-endian:
// each unit is one character, '?' above 0xFF.
class LogLines {
  public:
    LogLines(DosFiles &files, DosFile file) : files_(files), file_(file) {
        Byte();   // the first piece, to look at its start
        wide_ = have_ >= 2 && buffer_[0] == 0xFF && buffer_[1] == 0xFE;
        at_ = wide_ ? 2 : 0;
    }

    // The next line, NUL-terminated; false at the end of the log.
    bool Next(char (&line)[kLogLineRoom]) {
        size_t n = 0;
        while (n + 1 < kLogLineRoom) {
            int c = Byte();
            if (c < 0) break;
            if (wide_) {
                const int high = Byte();
                if (high < 0) break;
                if (high != 0) c = '?';
            }
            line[n++] = char(c);
            if (c == '\n') break;
        }
        line[n] = '\0';
        return n > 0;
    }

  private:
    // The next byte of the log, -1 at its end.
    int Byte() {
        if (at_ == have_) {
            have_ = files_.Read(file_, buffer_, sizeof buffer_);
            at_ = 0;
            if (have_ == 0) return -1;
        }
        return buffer_[at_++];
    }

    DosFiles &files_;
    DosFile file_;
    uint8_t buffer_[512];
    size_t at_ = 0, have_ = 0;
    bool wide_ = false;
};
// Whether the NUL-terminated line begins with prefix.
bool StartsWith(const char *line, const char *prefix) {
    for (; *prefix; ++line, ++prefix)
        if (*line != *prefix) return false;   // the line's NUL differs too
    return true;
}
}  // namespace

void MeVersionText(const MeVersion &v, TextBuilder &out) {
    for (size_t k = 0; k < 4; ++k) {
        if (k > 0) out.Append('.');
        out.AppendNumber(v[k]);
    }
}

void VerStrtoInt(TextView text, MeVersion &version) {
    constexpr size_t kParts = 4, kPartRoom = 5;
    char parts[kParts][kPartRoom];
    size_t lengths[kParts] = {};
    size_t k = 0;   // the leading '.' opens part 0
    for (size_t i = 0; i < text.Length; ++i) {
        if (text[i] == '.') {
            ++k;
            continue;
        }
        if (k < kParts && lengths[k] < kPartRoom) parts[k][lengths[k]++] = text[i];
    }
    for (size_t i = 0; i < kParts; ++i) version[i] = uint16_t(LeadingNumber(TextView(parts[i], lengths[i])));
}

bool GetCurMEVersion(const char *logPath, MeVersion &version, DosFiles &files,
                     DosConsole &console) {
    DosFile log = files.OpenForReading(logPath);
    if (log == kNoFile) {
        console.Write("Can't open ME log file.\n");
        return false;
    }
    char line[kLogLineRoom];
    bool found = false;
    LogLines lines(files, log);
    while (lines.Next(line)) {
        if (StartsWith(line, kFwVersionPrefix)) {
            found = true;
            break;
        }
    }
    files.Close(log);
    if (!found) {
        console.Write("There is not FW version in log file.\n");
        return false;
    }
    size_t length = std::strlen(line);
    TextView text;
    if (length > kLogVersionIndex + 1) text = TextView(line + kLogVersionIndex, length - kLogVersionIndex - 1);
    VerStrtoInt(text, version);
    return true;
}

bool GetNewMEVersion(const char *imagePath, MeVersion &version, DosFiles &files,
                     DosConsole &console, uint8_t *buffer, size_t bufferSize) {
    DosFile image = files.OpenForReading(imagePath);
    if (image == kNoFile) {
        console.Write("Bin file do not exist.\n");
        return false;
    }
    static constexpr uint8_t kMarker[4] = {'$', 'M', 'N', '2'};
    const Marker marker{kMarker, sizeof kMarker};
    FileByteSource source(files, image);
    const MarkerHit hit = FindMarker(source, 0, UINT64_MAX, &marker, 1, buffer, bufferSize);
    // The words must lie where a 32-bit offset reaches.
    if (!hit.Found || hit.Offset > uint64_t(UINT32_MAX - 8)) {
        files.Close(image);
        console.Write("\nCan't find the flag '$MN2' in bin file!");
        return false;
    }
    uint8_t words[8];
    bool whole = files.Seek(image, uint32_t(hit.Offset + 8)) && files.Read(image, words, sizeof words) == sizeof words;
    files.Close(image);
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
