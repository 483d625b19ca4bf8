#include "tools/fwpack/manifest/flag_names.h"

#include <cstdio>

#include "payload/option_block.h"

namespace fwpack {

const std::vector<FlagName> &FlagNames() {
    using namespace option_bit;
    static const std::vector<FlagName> names = {
        {"delete-at-end", DeleteAtEnd, "delete the unpacked files at the end of the run"},
        {"show-window", ShowWindow, "show the Windows window (clear: run hidden)"},
        {"factory", Factory, "no restart and no question; DOS factory mode"},
        {"force-it", ForceIt, "flash even the same or an older version"},
        {"force-type", ForceType, "flash even on a different system (DOS)"},
        {"no-pause", NoPause, "never wait for the user"},
        {"no-reboot", NoReboot, "do not restart at the end"},
        {"restart-n", RestartModeN, "DOS flash program switch /N"},
        {"restart-r", RestartModeR, "DOS flash program switch /R"},
        {"keep-all", KeepAll, "DOS flash program switch /K"},
        {"keep-k0", KeepK0, "DOS flash program switch /K0"},
        {"keep-k1", KeepK1, "DOS flash program switch /K1"},
        {"keep-k2", KeepK2, "DOS flash program switch /K2"},
        {"debug", Debug, "debug: sent to the flash programs"},
    };
    return names;
}

uint32_t FlagBitForName(std::string_view name) {
    for (const auto &f : FlagNames())
        if (name == f.Name) return f.Bit;
    return 0;
}

std::string DescribeFlags(uint32_t flags) {
    if (flags == 0) return "none";
    std::string text;
    uint32_t rest = flags;
    for (const auto &f : FlagNames()) {
        if (!(flags & f.Bit)) continue;
        text += (text.empty() ? "" : "|") + std::string(f.Name);
        rest &= ~f.Bit;
    }
    if (rest) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", rest);
        text += (text.empty() ? "" : "|") + std::string(buf);
    }
    return text;
}

std::string FlagNamesHelp() {
    std::string text;
    for (const auto &f : FlagNames()) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "  %-14s 0x%05X  %s\n", f.Name, f.Bit, f.Meaning);
        text += buf;
    }
    return text;
}

}  // namespace fwpack
