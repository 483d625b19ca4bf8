#include "platform/win32/win32_services.h"

#include <string>

namespace fwpack {

std::optional<int32_t> Win32ResultValues::ReadUserValue(std::string_view subkey,
                                                        std::string_view value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, std::string(subkey).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, std::string(value).c_str(), nullptr, nullptr, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return int32_t(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                   uint32_t(data[3]) << 24);
}

}  // namespace fwpack
