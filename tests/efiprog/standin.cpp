// A stand-in UEFI tool (see CMakeLists.txt for its orders): records its
// command line in CALLS.LOG and answers as the shell variables say.
#include <cstring>

#include "platform/uefi/runtime.h"

namespace {

using uefi::Char16;

#if defined(STANDIN_EFIFLASH)
constexpr char kName[] = "efiflash.efi";
constexpr Char16 kExitVariable[] = u"EFIFLASH_EXIT";
#elif defined(STANDIN_MEINFO)
constexpr char kName[] = "meinfo.efi";
constexpr Char16 kExitVariable[] = u"MEINFO_EXIT";
#else
constexpr char kName[] = "meupd.efi";
constexpr Char16 kExitVariable[] = u"MEUPD_EXIT";
#endif

uefi::ShellProtocol &Shell() { return *uefi::Machine().Shell; }

// The variable's value as bytes, or fallback when it is not set.
const char *Order(const Char16 *variable, const char *fallback, char (&out)[64]) {
    const Char16 *value = Shell().GetEnv(variable);
    if (!value) return fallback;
    size_t n = 0;
    for (; value[n] != 0 && n + 1 < sizeof out; ++n) out[n] = uefi::ToByte(value[n]);
    out[n] = '\0';
    return out;
}

void AppendAscii(const Char16 *file, const char *text) {
    uefi::ShellFile handle = nullptr;
    constexpr uint64_t kMode = uefi::kFileModeRead | uefi::kFileModeWrite | uefi::kFileModeCreate;
    if (Shell().OpenFileByName(file, &handle, kMode) != uefi::kSuccess) return;
    uint64_t size = 0;
    Shell().GetFileSize(handle, &size);
    Shell().SetFilePosition(handle, size);
    uint64_t length = std::strlen(text);
    Shell().WriteFile(handle, &length, text);
    Shell().CloseFile(handle);
}

[[maybe_unused]] void Print(const char *text) {  // through the shell: "> me.log" catches it
    Char16 wide[160];
    if (!uefi::ToUcs2(text, wide, sizeof wide / sizeof wide[0])) return;
    uint64_t size = std::strlen(text) * sizeof(Char16);
    Shell().WriteFile(uefi::Machine().Parameters->StdOut, &size, wide);
}

void Append(char *line, size_t room, size_t &n, const char *text) {
    for (; *text && n + 1 < room; ++text) line[n++] = *text;
    line[n] = '\0';
}

void RecordCall(const uefi::Arguments &args) {
    char line[400];
    size_t n = 0;
    Append(line, sizeof line, n, kName);
    for (int k = 1; k < args.Count; ++k) {
        Append(line, sizeof line, n, " ");
        Append(line, sizeof line, n, args.Values[k]);
    }
    Append(line, sizeof line, n, "\r\n");
    AppendAscii(u"CALLS.LOG", line);
}

uefi::Status Number(const char *text) {
    uefi::Status n = 0;
    for (; *text >= '0' && *text <= '9'; ++text) n = n * 10 + uefi::Status(*text - '0');
    return n;
}

void Act() {
    char value[64];
#if defined(STANDIN_MEINFO)
    if (std::strcmp(Order(u"MEINFO_MODE", "version", value), "nofw") == 0) {
        Print("ME information: no firmware version found\r\n");
        return;
    }
    Print("ME information tool\r\n");
    // The version starts at index 40 of the line.
    Print("FW Version:                             ");
    Print(Order(u"MEINFO_VERSION", "11.8.50.3400", value));
    Print("\r\n");
#elif defined(STANDIN_MEUPD)
    if (Shell().GetEnv(u"MEUPD_ERROR")) AppendAscii(u"ERROR.LOG", "update failed\r\n");
#endif
    (void)value;
}

}  // namespace

extern "C" uefi::Status efi_main(uefi::Handle image, uefi::SystemTable *system) {
    if (!uefi::Start(image, system).Shell) return uefi::kErrorBit | 3;
    RecordCall(uefi::ShellArguments());
    Act();
    char value[64];
    return Number(Order(kExitVariable, "0", value));
}
