// The flash programs' verdicts: 4-byte values under a key of the current
// user (HKEY_CURRENT_USER on Windows).
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace fwpack {

class ResultValues {
  public:
    virtual ~ResultValues() = default;
    // Opens HKCU\subkey with KEY_QUERY_VALUE, queries value into a zeroed
    // 4-byte buffer stating a size of 4 (the registry type is not tested),
    // closes the key, and returns the buffer as a little-endian signed
    // integer. A value shorter than 4 bytes fills the low bytes; the others
    // stay 0. nullopt when the key cannot be opened or the query fails (the
    // value is missing or longer than 4 bytes). Never creates or writes.
    virtual std::optional<int32_t> ReadUserValue(std::string_view subkey,
                                                 std::string_view value) = 0;
};

}  // namespace fwpack
