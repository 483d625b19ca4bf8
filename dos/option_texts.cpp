#include "dos/option_texts.h"

#include <cstring>

#include "payload/bytes.h"

namespace fwpack {

namespace {
// The room a field's text goes to, or null for a field the run does not use.
char *RoomOf(DosOptions &o, OptionField field) {
    switch (field) {
    case OptionField::DosFlashProgram: return o.DosFlashProgram;
    case OptionField::BiosImageName: return o.BiosImageName;
    case OptionField::IdString: return o.IdString;
    case OptionField::MeImageName: return o.MeImageName;
    case OptionField::DosMeQueryTool: return o.DosMeQueryTool;
    case OptionField::DosMeUpdateTool: return o.DosMeUpdateTool;
    default: return nullptr;
    }
}
}  // namespace

void ReadDosOptions(const uint8_t *data, size_t size, DosOptions &out) {
    std::memset(&out, 0, sizeof out);
    if (data == nullptr) return;
    ReadU32(data, size, OptionFieldOf(OptionField::Flags).Offset, out.Flags);
    for (const OptionFieldSpec &f : kOptionFields) {
        char *room = RoomOf(out, f.Field);
        if (room == nullptr || f.Offset >= size) continue;
        const size_t width = f.Size < size - f.Offset ? f.Size : size - f.Offset;
        FieldSpan span;
        ReadField(data, size, f.Offset, width, span);
        std::memcpy(room, data + f.Offset, span.Length);   // each room holds its field and a NUL
        room[span.Length] = '\0';
    }
}

}  // namespace fwpack
