// The run log of "/log=PATH": a plain-text account of the run, one stamped
// line at a time, for the admin who deployed the package. It only ever
// watches: a log that cannot be opened or written changes nothing else.
#pragma once
#include <atomic>
#include <string>
#include <string_view>

#include "platform/log_file.h"

namespace fwpack {

class RunLog {
  public:
    // Opens path through file (which must outlive the log) on the
    // user-interface thread, before the worker exists. A log that cannot be
    // opened stays off.
    void Start(LogFile &file, std::string_view path);
    bool On() const { return on_.load(std::memory_order_relaxed); }
    // Writes "<local time> <text>" and flushes it; control characters in
    // text are written as escapes ("\r", "\n", "\xNN"), so one call is one
    // line. A failed write turns the log off.
    void Line(std::string_view text);

  private:
    LogFile *file_ = nullptr;
    std::atomic<bool> on_{false};
};

// text in double quotes, for names and texts inside a log line.
std::string InQuotes(std::string_view text);

}  // namespace fwpack
