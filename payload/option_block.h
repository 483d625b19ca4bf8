// OptionBlock: the body of resource 2003, 2472 bytes. The Windows program
// keeps a copy of its first 1952 bytes (Flags through MeImageName).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "payload/option_layout.h"

namespace fwpack {

class ResourceSource;

struct OptionBlock {
    uint32_t Flags = 0;
    std::string FlashProgram, DosFlashProgram, BiosImageName, IdString, MeFlashProgram,
        MeImageName, DosMeQueryTool, DosMeUpdateTool;
};

// The member that holds a text field (every field of kOptionFields but
// Flags); Flags yields nullptr.
std::string *OptionText(OptionBlock &block, OptionField field);
const std::string *OptionText(const OptionBlock &block, OptionField field);

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
    // A text field inside the copy (FlashProgram through MeImageName).
    std::string_view Text(OptionField field) const;
    std::string_view FlashProgram() const { return Text(OptionField::FlashProgram); }
    std::string_view BiosImageName() const { return Text(OptionField::BiosImageName); }
    std::string_view IdString() const { return Text(OptionField::IdString); }
    std::string_view MeFlashProgram() const { return Text(OptionField::MeFlashProgram); }
    std::string_view MeImageName() const { return Text(OptionField::MeImageName); }
};

}  // namespace fwpack
