// The run log's file on Windows.
#pragma once
#include <windows.h>

#include "platform/log_file.h"

namespace fwpack {

class Win32LogFile : public LogFile {
  public:
    Win32LogFile() = default;
    Win32LogFile(const Win32LogFile &) = delete;
    Win32LogFile &operator=(const Win32LogFile &) = delete;
    ~Win32LogFile() override;
    bool Open(std::string_view path) override;
    bool Append(std::string_view line) override;
    std::string Now() override;

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace fwpack
