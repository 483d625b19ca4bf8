#include "platform/win32/win32_services.h"

namespace fwpack {

std::span<const uint8_t> Win32Resources::SetupResource(uint16_t id) const {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type_);
    if (!found) return {};
    DWORD size = SizeofResource(module_, found);
    HGLOBAL loaded = LoadResource(module_, found);
    if (!loaded || size == 0) return {};
    const void *data = LockResource(loaded);
    if (!data) return {};
    return {static_cast<const uint8_t *>(data), size};
}

}  // namespace fwpack
