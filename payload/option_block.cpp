#include "payload/option_block.h"

#include <algorithm>
#include <cstring>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"

namespace fwpack {

namespace {
struct TextField {
    const char *name;
    size_t offset, width;
    std::string OptionBlock::*member;
};
constexpr TextField kTextFields[] = {
    {"FlashProgram", option_offset::FlashProgram, kNameFieldSize, &OptionBlock::FlashProgram},
    {"DosFlashProgram", option_offset::DosFlashProgram, kNameFieldSize, &OptionBlock::DosFlashProgram},
    {"BiosImageName", option_offset::BiosImageName, kNameFieldSize, &OptionBlock::BiosImageName},
    {"IdString", option_offset::IdString, kIdStringSize, &OptionBlock::IdString},
    {"MeFlashProgram", option_offset::MeFlashProgram, kNameFieldSize, &OptionBlock::MeFlashProgram},
    {"MeImageName", option_offset::MeImageName, kNameFieldSize, &OptionBlock::MeImageName},
    {"DosMeQueryTool", option_offset::DosMeQueryTool, kNameFieldSize, &OptionBlock::DosMeQueryTool},
    {"DosMeUpdateTool", option_offset::DosMeUpdateTool, kNameFieldSize, &OptionBlock::DosMeUpdateTool},
};
}  // namespace

bool ParseOptionBlock(const uint8_t *data, size_t size, OptionBlock &out) {
    out = OptionBlock{};
    if (data == nullptr) return true;
    if (size >= 4) out.Flags = ReadU32(data);
    bool ok = true;
    for (const auto &f : kTextFields) {
        if (f.offset >= size) break;
        const size_t width = std::min(f.width, size - f.offset);
        out.*f.member = std::string(FieldText(data + f.offset, width));
        ok = ok && FieldTerminated(data + f.offset, width);
    }
    return ok;
}

bool SerializeOptionBlock(const OptionBlock &in, std::vector<uint8_t> &out, std::string *field) {
    out.assign(kOptionBlockSize, 0);
    PutU32(out.data(), in.Flags);
    for (const auto &f : kTextFields) {
        const std::string &text = in.*f.member;
        if (text.size() >= f.width || text.find('\0') != std::string::npos) {
            if (field) *field = f.name;
            return false;
        }
        std::memcpy(out.data() + f.offset, text.data(), text.size());
    }
    return true;
}

static std::string_view CopyField(const std::array<uint8_t, kProgramOptionSize> &b, size_t off,
                                  size_t width) {
    return FieldText(b.data() + off, width);
}

uint32_t ProgramOptionCopy::Flags() const { return ReadU32(Bytes.data()); }
std::string_view ProgramOptionCopy::FlashProgram() const {
    return CopyField(Bytes, option_offset::FlashProgram, kNameFieldSize);
}
std::string_view ProgramOptionCopy::BiosImageName() const {
    return CopyField(Bytes, option_offset::BiosImageName, kNameFieldSize);
}
std::string_view ProgramOptionCopy::IdString() const {
    return CopyField(Bytes, option_offset::IdString, kIdStringSize);
}
std::string_view ProgramOptionCopy::MeFlashProgram() const {
    return CopyField(Bytes, option_offset::MeFlashProgram, kNameFieldSize);
}
std::string_view ProgramOptionCopy::MeImageName() const {
    return CopyField(Bytes, option_offset::MeImageName, kNameFieldSize);
}

}  // namespace fwpack
