// The builder's files on Windows: "W" calls on UTF-8 paths, reads that
// leave the last access time alone, MoveFileExW over the target.
#include "platform/builder_files.h"

#include <algorithm>
#include <cstdio>

#include "platform/win32/win32_utf8.h"

namespace fwpack {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kChunk = 1 << 20;   // one ReadFile/WriteFile call at most

std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + ErrorText(GetLastError());
}

FILETIME ToFileTime(uint64_t t) { return FILETIME{DWORD(t), DWORD(t >> 32)}; }
uint64_t FromFileTime(const FILETIME &t) {
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

// Folders, devices (CON, NUL, pipes) and missing paths are told apart
// before anything is opened, as on Linux.
bool IsFolder(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opened for reading, and for setting its times where that is allowed (a
// read-only share may refuse it: the file is then read as it is).
HANDLE OpenSource(const std::wstring &path, bool &canSetTimes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    canSetTimes = h != INVALID_HANDLE_VALUE;
    if (!canSetTimes && GetLastError() == ERROR_ACCESS_DENIED)
        h = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return h;
}

bool ReadAll(HANDLE h, std::vector<uint8_t> &out) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size)) out.reserve(size_t(size.QuadPart));
    std::vector<uint8_t> buf(kChunk);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf.data(), kChunk, &n, nullptr)) return false;
        if (n == 0) return true;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
}

bool WriteAll(HANDLE h, const std::vector<uint8_t> &bytes) {
    for (size_t done = 0; done < bytes.size();) {
        DWORD want = DWORD(std::min<size_t>(kChunk, bytes.size() - done)), n = 0;
        if (!WriteFile(h, bytes.data() + done, want, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

// A new file beside path whose name no other file has: path + ".tmp-" and
// six hexadecimal digits, as on Linux.
HANDLE CreateTemp(const std::string &path, std::string &temp) {
    static unsigned counter = 0;
    for (int tries = 0; tries < 100; ++tries) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".tmp-%06lX",
                      (GetCurrentProcessId() * 7919ul + GetTickCount() + ++counter) & 0xFFFFFFul);
        temp = path + suffix;
        HANDLE h = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error) {
    std::wstring wide = Wide(path);
    if (IsFolder(wide)) {
        error = "not a regular file: " + path;
        return false;
    }
    bool canSetTimes = false;
    HANDLE h = OpenSource(wide, canSetTimes);
    if (h == INVALID_HANDLE_VALUE) {
        error = Why("cannot open", path);
        return false;
    }
    // All ones asks the system not to move the last access time for reads
    // through this handle; where that is not honoured (Wine), the time read
    // first is put back afterwards. First, because on Wine even asking for
    // the handle's type moves it.
    FILETIME accessed{}, keep{0xFFFFFFFF, 0xFFFFFFFF};
    canSetTimes = canSetTimes && GetFileTime(h, nullptr, &accessed, nullptr) &&
                  SetFileTime(h, nullptr, &keep, nullptr);
    bool regular = GetFileType(h) == FILE_TYPE_DISK;
    if (!regular) error = "not a regular file: " + path;
    out.clear();
    bool ok = regular && ReadAll(h, out);
    if (regular && !ok) error = Why("cannot read", path);
    if (canSetTimes) SetFileTime(h, nullptr, &accessed, nullptr);
    CloseHandle(h);
    return ok;
}

bool ReadSourceFileTimes(const std::string &path, SourceFileTimes &out, std::string &error) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        error = Why("cannot read the times of", path);
        return false;
    }
    out.Creation = FromFileTime(data.ftCreationTime);
    out.LastAccess = FromFileTime(data.ftLastAccessTime);
    out.LastWrite = FromFileTime(data.ftLastWriteTime);
    out.CreationIsBirthTime = true;
    return true;
}

bool ApplyFileTimes(const std::string &path, const SourceFileTimes &times, std::string &error) {
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME c = ToFileTime(times.Creation), a = ToFileTime(times.LastAccess),
             w = ToFileTime(times.LastWrite);
    bool ok = h != INVALID_HANDLE_VALUE && SetFileTime(h, &c, &a, &w);
    if (!ok) error = Why("cannot set the times of", path);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
}

AtomicFileSet::~AtomicFileSet() {
    for (auto &[temp, final] : staged_) DeleteFileW(Wide(temp).c_str());
}

bool AtomicFileSet::Stage(const std::string &path, const std::vector<uint8_t> &bytes,
                          std::string &error, unsigned) {
    std::string temp;
    HANDLE h = CreateTemp(path, temp);
    if (h == INVALID_HANDLE_VALUE) {
        error = Why("cannot create a file beside", path);
        return false;
    }
    staged_.emplace_back(temp, path);   // from here on the destructor removes it
    if (!WriteAll(h, bytes)) {
        error = Why("cannot write", temp);
        CloseHandle(h);
        return false;
    }
    bool finished = FlushFileBuffers(h);
    if (!finished) error = Why("cannot finish", temp);
    if (!CloseHandle(h) && finished) {
        error = Why("cannot finish", temp);
        finished = false;
    }
    return finished;
}

bool RenameOver(const std::string &from, const std::string &to, std::string &error) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = Why("cannot rename to", to);
    return false;
}

}  // namespace fwpack
