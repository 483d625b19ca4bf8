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

bool ReadAll(HANDLE h, std::vector<uint8_t> &out, uint64_t size) {
    out.reserve(size_t(size));
    std::vector<uint8_t> buf(kChunk);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf.data(), kChunk, &n, nullptr)) return false;
        if (n == 0) return true;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
}

bool WriteAll(HANDLE h, const uint8_t *data, size_t size) {
    for (size_t done = 0; done < size;) {
        DWORD want = DWORD(std::min<size_t>(kChunk, size - done)), n = 0;
        if (!WriteFile(h, data + done, want, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

// What comes before a file name beside path: its folder with the last
// separator, a drive ("D:name"), or nothing for a bare name.
std::string FolderPrefix(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) return path.substr(0, slash + 1);
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

// A new file beside path whose name no other file has: ".fwpack-" and six
// hexadecimal digits, as on Linux. Others may delete it while it is open,
// so that a stop request can remove it before the handle is closed.
HANDLE CreateTemp(const std::string &path, std::string &temp) {
    static unsigned counter = 0;
    const std::string folder = FolderPrefix(path);
    for (int tries = 0; tries < 100; ++tries) {
        char name[32];
        std::snprintf(name, sizeof name, ".fwpack-%06lX",
                      (GetCurrentProcessId() * 7919ul + GetTickCount() + ++counter) & 0xFFFFFFul);
        temp = folder + name;
        HANDLE h = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE Handle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The contents of an opened source: a regular file of at most maxSize bytes.
bool ReadOpened(HANDLE h, const std::string &path, std::vector<uint8_t> &out,
                std::string &error, uint64_t maxSize) {
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
        error = "not a regular file: " + path;
        return false;
    }
    if (uint64_t(size.QuadPart) > maxSize) {
        error = path + " is " + std::to_string(size.QuadPart) + " bytes; at most " +
                std::to_string(maxSize) + " fit";
        return false;
    }
    out.clear();
    if (ReadAll(h, out, uint64_t(size.QuadPart))) return true;
    error = Why("cannot read", path);
    return false;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                   uint64_t maxSize) {
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
    bool ok = ReadOpened(h, path, out, error, maxSize);
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

// 255 UTF-16 units is the longest name NTFS, exFAT and FAT's long names
// take. Asking the volume instead makes Wine print a warning for its
// root folder, which is no volume.
FileNameRoom NameRoomIn(const std::string &, const std::string &name) {
    return {Wide(name).size(), 255, "UTF-16 units"};
}

AtomicFileSet::~AtomicFileSet() {
    if (open_ != -1) CloseHandle(Handle(open_));
    for (auto &[temp, final] : staged_) {
        DeleteFileW(Wide(temp).c_str());
        ForgetOnInterrupt(temp);
    }
}

bool AtomicFileSet::Open(const std::string &path, std::string &error, unsigned) {
    // A rename would put a file in the place of a folder; a device is no
    // file to replace either.
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        error = path + " exists and is not a regular file; refusing to replace it";
        return false;
    }
    std::string temp;
    HANDLE h = CreateTemp(path, temp);
    if (h == INVALID_HANDLE_VALUE) {
        error = Why("cannot create a file beside", path);
        return false;
    }
    open_ = reinterpret_cast<intptr_t>(h);
    staged_.emplace_back(temp, path);   // from here on the destructor removes it
    RemoveOnInterrupt(temp);
    return true;
}

bool AtomicFileSet::Append(const uint8_t *data, size_t size, std::string &error) {
    if (WriteAll(Handle(open_), data, size)) return true;
    error = Why("cannot write", staged_.back().second);
    return false;
}

bool AtomicFileSet::Close(std::string &error) {
    HANDLE h = Handle(open_);
    open_ = -1;
    bool finished = FlushFileBuffers(h);
    if (!finished) error = Why("cannot finish", staged_.back().second);
    if (!CloseHandle(h) && finished) {
        error = Why("cannot finish", staged_.back().second);
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
