// The identification of a firmware: the text of seven '$'-introduced fields
// that a package carries in its option block and that the running firmware
// keeps in memory behind the "$FB" marker, and its parsed 80-byte record.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwpack {

class PhysicalMemoryReader;

inline constexpr size_t kBiosIdRecordSize = 80;
inline constexpr int kBiosIdFields = 7;

// Field k (1..7) lives at offset[k] with room[k] bytes and no terminator of
// its own: the zero fill ends it.
struct BiosIdRecord {
    std::array<char, kBiosIdRecordSize> Bytes{};

    static size_t FieldOffset(int field);
    static size_t FieldRoom(int field);
    // The field's characters, at most its room.
    std::string_view Field(int field) const;
    std::string_view BiosVersion() const { return Field(3); }
    std::string_view SystemName() const { return Field(6); }
};

// Fills record (zeroed first) from text. Characters before the first '$'
// and from the eighth '$' on are dropped; a field longer than its room is
// cut at its room, so nothing is written outside the field.
void strToStruct(std::string_view text, BiosIdRecord &record);

// The three ranges searched for the marker, in search order: [begin, end).
struct MemoryRange {
    uint32_t Begin, End;
};
inline constexpr std::array<MemoryRange, 3> kBiosInfoRanges{{
    {0xFFEB0000u, 0xFFF50000u},
    {0xFFE30000u, 0xFFEB0000u},
    {0xFFDB0000u, 0xFFE30000u},
}};
inline constexpr size_t kBiosInfoCopyLimit = 64;

// The identification block of the running firmware: the bytes from "$FB"
// on, at most 64, and, once seven '$' have been copied, the little-endian
// word that follows them in hexadecimal. Empty when no range holds "$FB".
// The result may hold NUL bytes copied from memory.
std::string GetBiosInfo(PhysicalMemoryReader &memory);

// The machine's identification text from a block (as GetBiosInfo gives it,
// seen through its 128-byte buffer): the text up to just after its last
// '$' (position 1 when there is none), followed by "%04X" of the two
// characters that stood there, read as a little-endian number.
std::string biosInfoToString(std::string_view blockText);

}  // namespace fwpack
