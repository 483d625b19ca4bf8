#include "platform/win32/win32_log_file.h"

#include <cstdio>
#include <string>

namespace fwpack {

namespace {

// A line in the ANSI code page as UTF-8; bytes the code page cannot map
// become U+FFFD rather than being dropped.
std::string AnsiToUtf8(std::string_view text) {
    if (text.empty()) return {};
    int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (wide <= 0) return std::string(text);
    std::wstring w(size_t(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), w.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string(text);
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

Win32LogFile::~Win32LogFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool Win32LogFile::Open(std::string_view path) {
    // Append-only access: every write lands at the end, also when the two
    // threads of the program write at once.
    file_ = CreateFileA(std::string(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

bool Win32LogFile::Append(std::string_view line) {
    if (file_ == INVALID_HANDLE_VALUE) return false;
    std::string bytes = AnsiToUtf8(line) + "\r\n";
    DWORD written = 0;
    bool ok = WriteFile(file_, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    return FlushFileBuffers(file_) && ok;
}

std::string Win32LogFile::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

}  // namespace fwpack
