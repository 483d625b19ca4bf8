// ME versions: four 16-bit numbers, most significant first, read from the
// ME information tool's log and from the ME image itself.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dos/text.h"

namespace fwpack {

class DosConsole;
class DosFiles;

struct MeVersion {
    uint16_t Part[4];
    uint16_t &operator[](size_t k) { return Part[k]; }
    uint16_t operator[](size_t k) const { return Part[k]; }
    friend bool operator==(const MeVersion &a, const MeVersion &b) {
        return a.Part[0] == b.Part[0] && a.Part[1] == b.Part[1] && a.Part[2] == b.Part[2] &&
               a.Part[3] == b.Part[3];
    }
};

// Four numbers of at most five digits, three dots and the NUL.
inline constexpr size_t kMeVersionTextRoom = 4 * 5 + 3 + 1;

// The four numbers in decimal with '.' between them, appended to out.
void MeVersionText(const MeVersion &v, TextBuilder &out);

// The text prefixed with '.' and split at '.': up to four parts of up to
// five characters, each part's decimal value (a missing part gives 0).
void VerStrtoInt(TextView text, MeVersion &version);

// The version on the first line of the log that begins with "FW Version:",
// taken from index 40 up to the line's last character. False (with the
// reader's message on the console) when the log cannot be opened or holds
// no such line.
bool GetCurMEVersion(const char *logPath, MeVersion &version, DosFiles &files,
                     DosConsole &console);

// The four little-endian words at +8, +10, +12 and +14 of the first "$MN2"
// in the image, searched for through buffer (the caller's transfer buffer,
// at least 4 bytes). False when the image cannot be opened, holds no marker
// (with the reader's message), ends inside the words, or they are all zero.
bool GetNewMEVersion(const char *imagePath, MeVersion &version, DosFiles &files,
                     DosConsole &console, uint8_t *buffer, size_t bufferSize);

// At the first difference: new greater 2, new smaller 1; all equal 0.
int CompareMEVersion(const MeVersion &current, const MeVersion &newVersion);

}  // namespace fwpack
