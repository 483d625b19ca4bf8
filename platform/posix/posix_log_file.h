// The run log's file on POSIX systems (the host tests).
#pragma once
#include "platform/log_file.h"

namespace fwpack {

class PosixLogFile : public LogFile {
  public:
    PosixLogFile() = default;
    PosixLogFile(const PosixLogFile &) = delete;
    PosixLogFile &operator=(const PosixLogFile &) = delete;
    ~PosixLogFile() override;
    bool Open(std::string_view path) override;
    bool Append(std::string_view line) override;
    std::string Now() override;

  private:
    int fd_ = -1;
};

}  // namespace fwpack
