#include "platform/uefi/shell_commands.h"

#include <cstring>

#include "platform/uefi/runtime.h"
#include "platform/uefi/status_text.h"

namespace fwpack {

namespace {

using uefi::Char16;

constexpr size_t kCommandRoom = 320;   // a 260-byte field, switches, " > me.log"
constexpr size_t kStatusRoom = 64;
constexpr uint64_t kLargestResult = 0x7FFFFFFF;
constexpr int kErrorResult = 255;

int ToolResult(uint64_t status) { return status <= kLargestResult ? int(status) : kErrorResult; }

// The command line's first word, the program, into name; false when it
// does not fit.
bool ProgramName(const char *commandLine, char (&name)[kCommandRoom]) {
    while (*commandLine == ' ') ++commandLine;
    size_t n = 0;
    while (commandLine[n] != '\0' && commandLine[n] != ' ') ++n;
    if (n >= sizeof name) return false;
    std::memcpy(name, commandLine, n);
    name[n] = '\0';
    return true;
}

bool NamesScript(const char *name) {
    static constexpr const char *kScript[] = {"NSH", nullptr};
    return HasProgramExtension(name, kScript);
}

// Whether the file holds what the firmware loads as an application for
// this machine: a PE32+ image for x86-64 with the EFI application
// subsystem. The shell reports a file it cannot load with a status that
// looks like a tool's own, so such a tool is refused before it is started.
bool IsUefiApplication(const char *name, UefiFiles &files) {
    constexpr size_t kHeaderRoom = 1024, kPeOffsetAt = 0x3C;
    constexpr size_t kMachineAt = 4, kMagicAt = 24, kSubsystemAt = 24 + 68;
    uint8_t header[kHeaderRoom];
    DosFile file = files.OpenForReading(name);
    if (file == kNoFile) return false;
    const size_t size = files.Read(file, header, sizeof header);
    files.Close(file);
    auto u16 = [&](size_t at) { return at + 2 <= size ? unsigned(header[at]) | unsigned(header[at + 1]) << 8 : 0u; };
    if (size < kPeOffsetAt + 4 || header[0] != 'M' || header[1] != 'Z') return false;
    const size_t pe = u16(kPeOffsetAt) | size_t(u16(kPeOffsetAt + 2)) << 16;
    if (pe > size || size - pe < kSubsystemAt + 2 || std::memcmp(header + pe, "PE\0\0", 4) != 0) return false;
    return u16(pe + kMachineAt) == 0x8664 && u16(pe + kMagicAt) == 0x20B && u16(pe + kSubsystemAt) == 10;
}

bool Execute(const char *commandLine, uint64_t &status) {
    uefi::Firmware &m = uefi::Machine();
    Char16 line[kCommandRoom];
    status = 0;
    return m.Shell && uefi::ToUcs2(commandLine, line, kCommandRoom) &&
           m.Shell->Execute(&m.Image, line, nullptr, &status) == uefi::kSuccess;
}

bool WriteText(UefiFiles &files, const char *name, const char *const *lines) {
    DosFile file = files.CreateForWriting(name);
    if (file == kNoFile) return false;
    bool whole = true;
    for (; *lines; ++lines) {
        const size_t n = std::strlen(*lines);
        whole = files.Write(file, reinterpret_cast<const uint8_t *>(*lines), n) == n && whole;
    }
    return files.Close(file) && whole;
}

// The shell gives a script run by Execute no usable status (the nested
// shell that runs it leaves its own result unset, or 0 after "exit N"), so
// the script runs from a helper script of ours, which writes %lasterror%
// (the script's "exit /b N", or its last command's status) to a file.
int RunScript(const char *commandLine, UefiFiles &files) {
    const char *const runner[] = {"@", commandLine, "\r\n@echo %lasterror% > ", kUefiScriptStatus, "\r\n", nullptr};
    files.Remove(kUefiScriptStatus);
    uint64_t status = 0;
    const bool ran = WriteText(files, kUefiScriptRunner, runner) && Execute(kUefiScriptRunner, status);
    uint8_t text[kStatusRoom];
    size_t size = 0;
    if (DosFile file = files.OpenForReading(kUefiScriptStatus); file != kNoFile) {
        size = files.Read(file, text, sizeof text);
        files.Close(file);
    }
    files.Remove(kUefiScriptRunner);
    files.Remove(kUefiScriptStatus);
    if (!ran || !ReadStatusText(text, size, status)) return kCommandAborted;
    return ToolResult(status);
}

}  // namespace

int RunShellCommand(const char *commandLine, UefiFiles &files) {
    char program[kCommandRoom];
    if (!ProgramName(commandLine, program)) return kCommandAborted;
    if (NamesScript(program)) return RunScript(commandLine, files);
    if (!IsUefiApplication(program, files)) return kCommandAborted;
    uint64_t status = 0;
    if (!Execute(commandLine, status)) return kCommandAborted;
    return ToolResult(status);
}

}  // namespace fwpack
