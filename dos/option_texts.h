// The DOS updater's reader of the option block: the flags and the texts
// the run uses, each in a fixed room of its field's width and a NUL, over
// the option layout's own table. Freestanding.
#pragma once
#include <cstddef>
#include <cstdint>

#include "payload/option_layout.h"

namespace fwpack {

// Plain bytes, so that it can be cleared in place: a copy would need as
// much stack as the object.
struct DosOptions {
    uint32_t Flags;
    // A field without its NUL keeps all of its bytes.
    char DosFlashProgram[kNameFieldSize + 1];
    char BiosImageName[kNameFieldSize + 1];
    char IdString[kIdStringSize + 1];
    char MeImageName[kNameFieldSize + 1];
    char DosMeQueryTool[kNameFieldSize + 1];
    char DosMeUpdateTool[kNameFieldSize + 1];
};

// Reads the fields present in size bytes; a short block leaves the later
// fields empty. out is emptied first.
void ReadDosOptions(const uint8_t *data, size_t size, DosOptions &out);

}  // namespace fwpack
