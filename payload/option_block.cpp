#include "payload/option_block.h"

#include <algorithm>
#include <cstring>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"

namespace fwpack {

namespace {
// Where each text field of kOptionFields lives in an OptionBlock, by field.
std::string OptionBlock::*const kMembers[kOptionFieldCount] = {
    nullptr,
    &OptionBlock::FlashProgram,
    &OptionBlock::DosFlashProgram,
    &OptionBlock::BiosImageName,
    &OptionBlock::IdString,
    &OptionBlock::MeFlashProgram,
    &OptionBlock::MeImageName,
    &OptionBlock::DosMeQueryTool,
    &OptionBlock::DosMeUpdateTool,
};

bool IsText(const OptionFieldSpec &f) { return f.Kind != OptionFieldKind::Word; }
}  // namespace

std::string *OptionText(OptionBlock &block, OptionField field) {
    auto member = kMembers[size_t(field)];
    return member ? &(block.*member) : nullptr;
}
const std::string *OptionText(const OptionBlock &block, OptionField field) {
    auto member = kMembers[size_t(field)];
    return member ? &(block.*member) : nullptr;
}

bool ParseOptionBlock(const uint8_t *data, size_t size, OptionBlock &out) {
    out = OptionBlock{};
    if (data == nullptr) return true;
    ReadU32(data, size, OptionFieldOf(OptionField::Flags).Offset, out.Flags);
    bool ok = true;
    for (const OptionFieldSpec &f : kOptionFields) {
        if (!IsText(f) || f.Offset >= size) continue;
        const size_t width = std::min<size_t>(f.Size, size - f.Offset);
        FieldSpan span;
        ReadField(data, size, f.Offset, width, span);
        OptionText(out, f.Field)->assign(reinterpret_cast<const char *>(data + f.Offset), span.Length);
        ok = ok && span.Terminated;
    }
    return ok;
}

bool SerializeOptionBlock(const OptionBlock &in, std::vector<uint8_t> &out, std::string *field) {
    out.assign(kOptionBlockSize, 0);
    PutU32(out.data() + OptionFieldOf(OptionField::Flags).Offset, in.Flags);
    for (const OptionFieldSpec &f : kOptionFields) {
        if (!IsText(f)) continue;
        const std::string &text = *OptionText(in, f.Field);
        if (text.size() >= f.Size || text.find('\0') != std::string::npos) {
            if (field) *field = f.Name;
            return false;
        }
        std::memcpy(out.data() + f.Offset, text.data(), text.size());
    }
    return true;
}

uint32_t ProgramOptionCopy::Flags() const {
    uint32_t flags = 0;
    ReadU32(Bytes.data(), Bytes.size(), OptionFieldOf(OptionField::Flags).Offset, flags);
    return flags;
}

std::string_view ProgramOptionCopy::Text(OptionField field) const {
    const OptionFieldSpec &f = OptionFieldOf(field);
    FieldSpan span;
    if (!IsText(f) || !ReadField(Bytes.data(), Bytes.size(), f.Offset, f.Size, span)) return {};
    return {reinterpret_cast<const char *>(Bytes.data() + f.Offset), span.Length};
}

}  // namespace fwpack
