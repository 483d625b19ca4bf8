// The file system through the Windows kernel and shell calls.
#pragma once
#include "platform/files.h"

namespace fwpack {

class Win32FileSystem : public FileSystem {
  public:
    char Separator() const override { return '\\'; }
    std::string TempRoot() override;
    std::optional<std::string> TempFileName(std::string_view folder, std::string_view prefix,
                                            uint32_t unique) override;
    std::optional<size_t> WriteWholeFile(std::string_view path, std::span<const uint8_t> bytes,
                                         const FileTimes *times = nullptr) override;
    bool ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) override;
    bool CopyFileOver(std::string_view from, std::string_view to) override;
    bool RemoveFile(std::string_view path) override;
    bool Exists(std::string_view path) override;
    bool CreateFolder(std::string_view path) override;
    bool RemoveFolder(std::string_view path) override;
    bool DeleteTree(std::string_view path) override;
    std::optional<std::string> WorkingDirectory() override;
    bool SetWorkingDirectory(std::string_view path) override;
};

}  // namespace fwpack
