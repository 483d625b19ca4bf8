// ME versions: four 16-bit numbers, most significant first, read from the
// ME information tool's log and from the ME image itself.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwpack {

class DosConsole;
class DosFiles;

using MeVersion = std::array<uint16_t, 4>;

// "%d.%d.%d.%d"
std::string MeVersionText(const MeVersion &v);

// The text prefixed with '.' and split at '.': up to four parts of up to
// five characters, each part's decimal value (a missing part gives 0).
void VerStrtoInt(std::string_view text, MeVersion &version);

// The version on the first line of the log that begins with "FW Version:",
// taken from index 40 up to the line's last character. False (with the
// reader's message on the console) when the log cannot be opened or holds
// no such line.
bool GetCurMEVersion(const std::string &logPath, MeVersion &version, DosFiles &files,
                     DosConsole &console);

// The four little-endian words at +8, +10, +12 and +14 of the first "$MN2"
// in the image, searched for through buffer (the caller's transfer buffer,
// at least 4 bytes). False when the image cannot be opened, holds no marker
// (with the reader's message), ends inside the words, or they are all zero.
bool GetNewMEVersion(const std::string &imagePath, MeVersion &version, DosFiles &files,
                     DosConsole &console, uint8_t *buffer, size_t bufferSize);

// At the first difference: new greater 2, new smaller 1; all equal 0.
int CompareMEVersion(const MeVersion &current, const MeVersion &newVersion);

}  // namespace fwpack
