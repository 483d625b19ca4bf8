// OptionBlock: the body of resource 2003, 2472 bytes. The Windows program
// keeps a copy of its first 1952 bytes (Flags through MeImageName).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fwpack {

inline constexpr size_t kOptionBlockSize = 2472;
inline constexpr size_t kProgramOptionSize = 1952;
inline constexpr size_t kNameFieldSize = 260;
inline constexpr size_t kIdStringSize = 128;

namespace option_offset {
inline constexpr size_t Flags = 0, FlashProgram = 4, DosFlashProgram = 524, BiosImageName = 1044,
                        IdString = 1304, MeFlashProgram = 1432, MeImageName = 1692,
                        DosMeQueryTool = 1952, DosMeUpdateTool = 2212;
}

// Option word bits (the Windows and DOS meanings share the word).
namespace option_bit {
inline constexpr uint32_t DeleteAtEnd = 0x1, ShowWindow = 0x2, Factory = 0x4, ForceIt = 0x8,
                          ForceType = 0x10, NoPause = 0x20, NoReboot = 0x40,
                          RestartModeN = 0x80, RestartModeR = 0x100, KeepAll = 0x200,
                          KeepK0 = 0x400, KeepK1 = 0x800, KeepK2 = 0x1000, Debug = 0x20000;
}

struct OptionBlock {
    uint32_t Flags = 0;
    std::string FlashProgram, DosFlashProgram, BiosImageName, IdString, MeFlashProgram,
        MeImageName, DosMeQueryTool, DosMeUpdateTool;
};

// Reads the fields present in size bytes (a short block leaves the later
// fields empty). False when a present field has no NUL in its width; the
// field then holds all of its bytes.
bool ParseOptionBlock(const uint8_t *data, size_t size, OptionBlock &out);
// 2472 bytes; false (and *field names the first offender) when a text does
// not fit its field with its NUL.
bool SerializeOptionBlock(const OptionBlock &in, std::vector<uint8_t> &out,
                          std::string *field = nullptr);

// The program's copy: 1952 bytes, zero until LoadOptionBlock fills it.
// Name accessors stop at the field's end when it holds no NUL.
class ProgramOptionCopy {
  public:
    std::array<uint8_t, kProgramOptionSize> Bytes{};
    uint32_t Flags() const;
    std::string_view FlashProgram() const;
    std::string_view BiosImageName() const;
    std::string_view IdString() const;
    std::string_view MeFlashProgram() const;
    std::string_view MeImageName() const;
};

}  // namespace fwpack
