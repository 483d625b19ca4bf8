// A run log's file in memory: the lines as written, and a way to make it
// fail to open or to write.
#pragma once
#include <string>
#include <vector>

#include "platform/log_file.h"

namespace fwpack::test {

struct MemoryLog : LogFile {
    std::string openedPath;
    std::vector<std::string> lines;   // without their time stamps
    bool failOpen = false;
    bool failWrites = false;
    int writes = 0;
    bool Open(std::string_view path) override {
        openedPath = std::string(path);
        return !failOpen;
    }
    bool Append(std::string_view line) override {
        ++writes;
        if (failWrites) return false;
        // "2026-12-08 10:00:00.000 " is 24 characters.
        lines.push_back(std::string(line.substr(24)));
        return true;
    }
    std::string Now() override { return "2026-12-08 10:00:00.000"; }
    bool Has(const std::string &line) const {
        for (const auto &l : lines)
            if (l == line) return true;
        return false;
    }
    // The index of the first line starting with prefix, or -1.
    int Find(const std::string &prefix) const {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0) return int(i);
        return -1;
    }
};

}  // namespace fwpack::test
