// The names the manifest and the inspector use for the option word's bits.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fwpack {

struct FlagName {
    const char *Name;
    uint32_t Bit;
    const char *Meaning;
};
const std::vector<FlagName> &FlagNames();

// The bit of a name, or 0 when the name is unknown.
uint32_t FlagBitForName(std::string_view name);
// "show-window|delete-at-end" style list of the named bits of flags, plus
// "0x..." for bits without a name; "none" for 0.
std::string DescribeFlags(uint32_t flags);
// The help text: one line per name.
std::string FlagNamesHelp();

}  // namespace fwpack
