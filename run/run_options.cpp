// Run options: the switches a caller may add to the package's Flags.
#include "run/run_options.h"

#include <cstddef>

namespace fwpack {

namespace {

struct Switch {
    std::string_view Keyword;
    bool RunOptions::*Flag;
};

// In the order the parser tries them: "nopause" before "noreboot" and
// "debug" before "dbg" do not shadow each other because each keyword is
// compared over its own length only.
constexpr Switch kSwitches[] = {
    {"forceit", &RunOptions::ForceIt},   {"nopause", &RunOptions::NoPause},
    {"noreboot", &RunOptions::NoReboot}, {"debug", &RunOptions::DebugBoxes},
    {"dbg", &RunOptions::DebugBoxes},
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view keyword) {
    if (text.size() < keyword.size()) return false;
    for (size_t i = 0; i < keyword.size(); ++i)
        if (Lower(text[i]) != keyword[i]) return false;
    return true;
}

}  // namespace

void ApplyOptionFlags(RunOptions &options, uint32_t word) {
    if (word & option_bit::Factory) options.Factory = true;
    if (word & option_bit::ForceIt) options.ForceIt = true;
    if (word & option_bit::NoPause) options.NoPause = true;
    if (word & option_bit::NoReboot) options.NoReboot = true;
}

bool ParseCommandLine(RunOptions &options, std::string_view text) {
    // Only spaces are trimmed at either end; a tab is skipped by the loop.
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);

    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (c != '/') return false;
        std::string_view rest = text.substr(i + 1);
        const Switch *hit = nullptr;
        for (const Switch &s : kSwitches)
            if (StartsWithNoCase(rest, s.Keyword)) {
                hit = &s;
                break;
            }
        if (!hit) return false;
        options.*(hit->Flag) = true;
        // Whatever follows the keyword starts the next item.
        i += 1 + hit->Keyword.size();
    }
    return true;
}

void PackOptionWord(RunOptions &options) {
    if (options.ForceIt) options.OptionWord |= option_bit::ForceIt;
    if (options.NoPause) options.OptionWord |= option_bit::NoPause;
    if (options.NoReboot) options.OptionWord |= option_bit::NoReboot;
    if (options.DebugBoxes) options.OptionWord |= option_bit::Debug;
}

}  // namespace fwpack
