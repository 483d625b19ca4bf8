// The identification of a firmware: the text of seven '$'-introduced fields
// that a package carries in its option block and that the running firmware
// keeps in memory behind the "$FB" marker, and its parsed 80-byte record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dos/text.h"

namespace fwpack {

class PhysicalMemoryReader;

inline constexpr size_t kBiosIdRecordSize = 80;
inline constexpr int kBiosIdFields = 7;

// Field k (1..7) lives at offset[k] with room[k] bytes and no terminator of
// its own: the zero fill ends it.
struct BiosIdRecord {
    char Bytes[kBiosIdRecordSize] = {};

    static size_t FieldOffset(int field);
    static size_t FieldRoom(int field);
    // The field's characters, at most its room.
    TextView Field(int field) const;
    TextView BiosVersion() const { return Field(3); }
    TextView SystemName() const { return Field(6); }
};

// Fills record (zeroed first) from text. Characters before the first '$'
// and from the eighth '$' on are dropped; a field longer than its room is
// cut at its room, so nothing is written outside the field.
void strToStruct(TextView text, BiosIdRecord &record);

// The whole of field (1..7) of an identification text, however long its
// record room: the characters after the field's '$' up to the next '$', a
// NUL or the end of the text. Empty when the text has no such field.
TextView IdTextField(TextView text, int field);

// The three ranges searched for the marker, in search order: [begin, end).
struct MemoryRange {
    uint32_t Begin, End;
};
inline constexpr MemoryRange kBiosInfoRanges[] = {
    {0xFFEB0000u, 0xFFF50000u},
    {0xFFE30000u, 0xFFEB0000u},
    {0xFFDB0000u, 0xFFE30000u},
};
inline constexpr size_t kBiosInfoCopyLimit = 64;
// The block's text: the copied bytes, a word of at most four hex digits,
// and the NUL.
inline constexpr size_t kBiosInfoRoom = kBiosInfoCopyLimit + 4 + 1;
// The machine's identification text: what its 128-byte buffer held (127
// characters at most), four hex digits and the NUL.
inline constexpr size_t kMachineIdRoom = 128 - 1 + 4 + 1;

// The identification block of the running firmware: the bytes from "$FB"
// on, at most 64, and, once seven '$' have been copied, the little-endian
// word that follows them in hexadecimal. Empty when no range holds "$FB".
// The result may hold NUL bytes copied from memory. Memory is read through
// chunk (chunkSize bytes, the caller's transfer buffer), never more at once.
// out is cleared first and needs kBiosInfoRoom bytes.
void GetBiosInfo(PhysicalMemoryReader &memory, uint8_t *chunk, size_t chunkSize, TextBuilder &out);

// The machine's identification text from a block (as GetBiosInfo gives it,
// seen through its 128-byte buffer): the text up to just after its last
// '$' (position 1 when there is none), followed by "%04X" of the two
// characters that stood there, read as a little-endian number. out is
// cleared first and needs kMachineIdRoom bytes.
void biosInfoToString(TextView blockText, TextBuilder &out);

}  // namespace fwpack
