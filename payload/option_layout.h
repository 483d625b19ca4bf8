// The OptionBlock's layout, the body of resource 2003: 2472 bytes, of which
// the Windows program keeps the first 1952 (Flags through MeImageName).
// Every reader and writer of the block walks kOptionFields; nothing else
// spells an offset or a width. Freestanding: plain values only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/resource_layout.h"

namespace fwpack {

inline constexpr size_t kOptionBlockSize = 2472;
inline constexpr size_t kProgramOptionSize = 1952;
inline constexpr size_t kNameFieldSize = 260;
inline constexpr size_t kIdStringSize = 128;

// Option word bits (the Windows and DOS meanings share the word).
namespace option_bit {
inline constexpr uint32_t DeleteAtEnd = 0x1, ShowWindow = 0x2, Factory = 0x4, ForceIt = 0x8,
                          ForceType = 0x10, NoPause = 0x20, NoReboot = 0x40,
                          RestartModeN = 0x80, RestartModeR = 0x100, KeepAll = 0x200,
                          KeepK0 = 0x400, KeepK1 = 0x800, KeepK2 = 0x1000, Debug = 0x20000;
}

enum class OptionField : uint8_t {
    Flags,
    FlashProgram,
    DosFlashProgram,
    BiosImageName,
    IdString,
    MeFlashProgram,
    MeImageName,
    DosMeQueryTool,
    DosMeUpdateTool,
};

enum class OptionFieldKind : uint8_t {
    Word,      // u32
    Text,      // NUL-terminated text inside the field
    FileName,  // a bare file name of the package resource named by Package
};

struct OptionFieldSpec {
    OptionField Field;
    const char *Name;
    uint16_t Offset, Size;
    OptionFieldKind Kind;
    uint16_t Package;  // FileName fields: the resource holding that file; else 0
};

// In block order. The two empty 260-byte fields at 264 and 784 are read by
// nobody and have no entry.
inline constexpr OptionFieldSpec kOptionFields[] = {
    {OptionField::Flags, "Flags", 0, 4, OptionFieldKind::Word, 0},
    {OptionField::FlashProgram, "FlashProgram", 4, kNameFieldSize, OptionFieldKind::FileName,
     ToolPackage},
    {OptionField::DosFlashProgram, "DosFlashProgram", 524, kNameFieldSize,
     OptionFieldKind::FileName, DosPackage},
    {OptionField::BiosImageName, "BiosImageName", 1044, kNameFieldSize, OptionFieldKind::FileName,
     BiosPackage},
    {OptionField::IdString, "IdString", 1304, kIdStringSize, OptionFieldKind::Text, 0},
    {OptionField::MeFlashProgram, "MeFlashProgram", 1432, kNameFieldSize,
     OptionFieldKind::FileName, ToolPackage},
    {OptionField::MeImageName, "MeImageName", 1692, kNameFieldSize, OptionFieldKind::FileName,
     MePackage},
    {OptionField::DosMeQueryTool, "DosMeQueryTool", 1952, kNameFieldSize,
     OptionFieldKind::FileName, DosPackage},
    {OptionField::DosMeUpdateTool, "DosMeUpdateTool", 2212, kNameFieldSize,
     OptionFieldKind::FileName, DosPackage},
};
inline constexpr size_t kOptionFieldCount = sizeof kOptionFields / sizeof kOptionFields[0];

constexpr const OptionFieldSpec &OptionFieldOf(OptionField f) { return kOptionFields[size_t(f)]; }

namespace option_layout_checks {
constexpr bool InOrderAndInside() {
    for (size_t i = 0; i < kOptionFieldCount; ++i) {
        const OptionFieldSpec &f = kOptionFields[i];
        if (size_t(f.Field) != i || f.Offset + f.Size > kOptionBlockSize) return false;
        if (i > 0 && kOptionFields[i - 1].Offset + kOptionFields[i - 1].Size > f.Offset)
            return false;
    }
    return true;
}
static_assert(InOrderAndInside(), "option fields: table order, no overlap, inside the block");
static_assert(OptionFieldOf(OptionField::MeImageName).Offset +
                      OptionFieldOf(OptionField::MeImageName).Size ==
                  kProgramOptionSize,
              "the program's copy ends with MeImageName");
}  // namespace option_layout_checks

}  // namespace fwpack
