// The run log's file: an append-only text file that survives a crash up to
// its last line.
#pragma once
#include <string>
#include <string_view>

namespace fwpack {

class LogFile {
  public:
    virtual ~LogFile() = default;
    // Opens path for appending, creating it when missing; others may read it
    // meanwhile. False when it cannot be opened.
    virtual bool Open(std::string_view path) = 0;
    // Appends line and a line end in one write and flushes it to the disk,
    // so that a crash or a power loss keeps it. line is in the system code
    // page; the file holds UTF-8. False when the write fails.
    virtual bool Append(std::string_view line) = 0;
    // The local time as "YYYY-MM-DD HH:MM:SS.mmm".
    virtual std::string Now() = 0;
};

}  // namespace fwpack
