#include "platform/win32/win32_files.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>
#include <new>

namespace fwpack {

namespace {

// The calls take NUL-terminated paths; a path never holds a NUL itself.
std::string Z(std::string_view s) { return std::string(s); }

FILETIME ToFileTime(uint64_t t) {
    FILETIME ft;
    ft.dwLowDateTime = DWORD(t);
    ft.dwHighDateTime = DWORD(t >> 32);
    return ft;
}

// A whole-file transfer is one call with a DWORD count.
constexpr size_t kMaxTransfer = 0xFFFFFFFFu;

}  // namespace

std::string Win32FileSystem::TempRoot() {
    char buffer[MAX_PATH] = {};
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::string(buffer, n);
}

std::optional<std::string> Win32FileSystem::TempFileName(std::string_view folder,
                                                         std::string_view prefix,
                                                         uint32_t unique) {
    char name[MAX_PATH] = {};
    if (folder.size() >= MAX_PATH) return std::nullopt;
    if (GetTempFileNameA(Z(folder).c_str(), Z(prefix).c_str(), unique, name) == 0)
        return std::nullopt;
    return std::string(name);
}

std::optional<size_t> Win32FileSystem::WriteWholeFile(std::string_view path,
                                                      std::span<const uint8_t> bytes,
                                                      const FileTimes *times) {
    HANDLE file = CreateFileA(Z(path).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    if (bytes.size() > kMaxTransfer ||
        (!bytes.empty() && !WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr)))
        written = 0;
    if (times) {
        FILETIME c = ToFileTime(times->Creation), a = ToFileTime(times->LastAccess),
                 w = ToFileTime(times->LastWrite);
        SetFileTime(file, &c, &a, &w);
    }
    CloseHandle(file);
    return size_t(written);
}

bool Win32FileSystem::ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) {
    out.clear();
    HANDLE file = CreateFileA(Z(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) size = 0;
    if (high != 0) size = 0;   // more than one call can carry: read nothing
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc &) {
        // No buffer for it: the file cannot be read, and nothing throws.
        CloseHandle(file);
        return false;
    }
    if (size != 0) {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        DWORD read = 0;
        ReadFile(file, out.data(), size, &read, nullptr);
    }
    CloseHandle(file);
    return true;
}

bool Win32FileSystem::CopyFileOver(std::string_view from, std::string_view to) {
    return CopyFileA(Z(from).c_str(), Z(to).c_str(), FALSE) != 0;
}

bool Win32FileSystem::RemoveFile(std::string_view path) {
    return DeleteFileA(Z(path).c_str()) != 0;
}

bool Win32FileSystem::Exists(std::string_view path) {
    return PathFileExistsA(Z(path).c_str()) != 0;
}

bool Win32FileSystem::CreateFolder(std::string_view path) {
    return CreateDirectoryA(Z(path).c_str(), nullptr) != 0;
}

bool Win32FileSystem::RemoveFolder(std::string_view path) {
    return RemoveDirectoryA(Z(path).c_str()) != 0;
}

bool Win32FileSystem::DeleteTree(std::string_view path) {
    // The operation takes a list of paths ending with an empty one: the
    // path is copied into a zeroed buffer, so it is double-NUL terminated.
    char from[MAX_PATH + 1] = {};
    if (path.empty() || path.size() >= MAX_PATH) return false;
    std::memcpy(from, path.data(), path.size());
    SHFILEOPSTRUCTA op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = 0x614;   // FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI
    return SHFileOperationA(&op) == 0;
}

std::optional<std::string> Win32FileSystem::WorkingDirectory() {
    char buffer[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (n == 0 || n >= MAX_PATH) return std::nullopt;
    return std::string(buffer, n);
}

bool Win32FileSystem::SetWorkingDirectory(std::string_view path) {
    return SetCurrentDirectoryA(Z(path).c_str()) != 0;
}

}  // namespace fwpack
