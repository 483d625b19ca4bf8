// Run options: the switches a caller may add to the package's Flags.
#include "run/run_options.h"

#include <cstddef>
#include <optional>
#include <string>

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

// The admin's switches, tried after the five above, so that none of those
// is read differently: "/log=" takes a value, "/exitcodes" none.
constexpr std::string_view kLogKeyword = "log=";
constexpr std::string_view kExitCodesKeyword = "exitcodes";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view keyword) {
    if (text.size() < keyword.size()) return false;
    for (size_t i = 0; i < keyword.size(); ++i)
        if (Lower(text[i]) != keyword[i]) return false;
    return true;
}

// The value of "/log=" at the start of text: up to the first space or tab,
// or, when it opens with a quotation mark, up to the closing one. Sets used
// to the characters taken; nullopt for an empty value or a missing closing
// mark.
std::optional<std::string> LogValue(std::string_view text, size_t &used) {
    std::string_view value;
    if (!text.empty() && text.front() == '"') {
        size_t close = text.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;
        value = text.substr(1, close - 1);
        used = close + 1;
    } else {
        value = text.substr(0, text.find_first_of(" \t"));
        used = value.size();
    }
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

// One admin switch right after a "/": the characters it took, 0 when none
// matches or its value is invalid.
size_t ReadAdminSwitch(RunOptions &options, std::string_view rest) {
    if (StartsWithNoCase(rest, kExitCodesKeyword)) {
        options.ExitCodes = true;
        return kExitCodesKeyword.size();
    }
    if (StartsWithNoCase(rest, kLogKeyword)) {
        size_t used = 0;
        std::optional<std::string> path = LogValue(rest.substr(kLogKeyword.size()), used);
        if (!path) return 0;
        options.LogPath = *path;   // the last one given counts
        return kLogKeyword.size() + used;
    }
    return 0;
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
        if (hit) {
            options.*(hit->Flag) = true;
            // Whatever follows the keyword starts the next item.
            i += 1 + hit->Keyword.size();
            continue;
        }
        size_t used = ReadAdminSwitch(options, rest);
        if (used == 0) return false;
        i += 1 + used;
    }
    return true;
}

RunOptions AdminSwitches(std::string_view text) {
    RunOptions read;
    // Whatever stands before an invalid item is read; "/exitcodes" is looked
    // for in the rest as well, so that a caller who asked for the codes gets
    // the one for a bad command line.
    if (!ParseCommandLine(read, text)) {
        for (size_t at = text.find('/'); at != std::string_view::npos; at = text.find('/', at + 1))
            if (StartsWithNoCase(text.substr(at + 1), kExitCodesKeyword)) read.ExitCodes = true;
    }
    RunOptions admin;
    admin.LogPath = read.LogPath;
    admin.ExitCodes = read.ExitCodes;
    return admin;
}

void PackOptionWord(RunOptions &options) {
    if (options.ForceIt) options.OptionWord |= option_bit::ForceIt;
    if (options.NoPause) options.OptionWord |= option_bit::NoPause;
    if (options.NoReboot) options.OptionWord |= option_bit::NoReboot;
    if (options.DebugBoxes) options.OptionWord |= option_bit::Debug;
}

}  // namespace fwpack
