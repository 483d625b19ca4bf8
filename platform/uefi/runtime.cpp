#include "platform/uefi/runtime.h"

#include <cstring>

// The linker's table of static constructors (the PE linker script's
// .ctors): a -1 word, the constructors, a 0 word.
extern "C" void (*__CTOR_LIST__[])();

namespace uefi {

namespace {

Firmware gFirmware;

constexpr int kMostArguments = 32;
constexpr size_t kArgumentRoom = 2048;   // all arguments with their NULs
const char *gArgv[kMostArguments + 1];
char gArgumentText[kArgumentRoom];

// The compiler runs them from the table's end to its start.
void ConstructStatics() {
    size_t count = 1;
    while (__CTOR_LIST__[count] != nullptr) ++count;
    for (size_t k = count - 1; k >= 1; --k) __CTOR_LIST__[k]();
}

template <typename T>
T *Interface(Handle handle, const Guid &guid) {
    void *found = nullptr;
    if (gFirmware.Boot->HandleProtocol(handle, &guid, &found) != kSuccess) return nullptr;
    return static_cast<T *>(found);
}

}  // namespace

Firmware &Start(Handle image, SystemTable *system) {
    ConstructStatics();
    gFirmware.Image = image;
    gFirmware.System = system;
    gFirmware.Boot = system->BootServices;
    gFirmware.Boot->SetWatchdogTimer(0, 0, 0, nullptr);
    void *shell = nullptr;
    if (gFirmware.Boot->LocateProtocol(&kShellGuid, nullptr, &shell) == kSuccess)
        gFirmware.Shell = static_cast<ShellProtocol *>(shell);
    gFirmware.Parameters = Interface<ShellParameters>(image, kShellParametersGuid);
    if (!gFirmware.Parameters) gFirmware.Shell = nullptr;   // its files need both
    return gFirmware;
}

Firmware &Machine() { return gFirmware; }

// Arguments that do not fit are left out, so a cut argument never reaches
// the switch reader, and the answer says so.
Arguments ShellArguments() {
    int count = 0;
    size_t used = 0;
    const ShellParameters *p = gFirmware.Parameters;
    bool complete = true;
    for (uint64_t k = 0; p && k < p->Argc; ++k) {
        const Char16 *arg = p->Argv[k];
        size_t n = 0;
        while (arg[n] != 0) ++n;
        if (count == kMostArguments || used + n + 1 > kArgumentRoom) {
            complete = false;
            break;
        }
        char *text = gArgumentText + used;
        for (size_t i = 0; i < n; ++i) text[i] = ToByte(arg[i]);
        text[n] = '\0';
        used += n + 1;
        gArgv[count++] = text;
    }
    gArgv[count] = nullptr;
    return {count, gArgv, complete};
}

bool ToUcs2(const char *text, size_t length, Char16 *out, size_t room) {
    if (length >= room) return false;
    for (size_t i = 0; i < length; ++i) out[i] = Char16(uint8_t(text[i]));
    out[length] = 0;
    return true;
}

bool ToUcs2(const char *text, Char16 *out, size_t room) { return ToUcs2(text, std::strlen(text), out, room); }

}  // namespace uefi
