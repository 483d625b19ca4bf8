#include "platform/uefi/dos_platform_uefi.h"

#include <cstring>

#include "platform/uefi/runtime.h"
#include "platform/uefi/shell_commands.h"

namespace fwpack {

namespace {

using uefi::Char16;

constexpr Char16 kFirmwareDumpVariable[] = u"FWPACK_FIRMWARE_DUMP";
constexpr size_t kNameRoom = 300;   // the dump file's name
constexpr size_t kOutputPiece = 128;
constexpr int kExtendedKey = 0x100;
constexpr Char16 kCtrlC = 3;
constexpr uint64_t kFourGiB = uint64_t(1) << 32;
// The wait for a key looks at the shell's break this often (in 100 ns).
constexpr uint64_t kBreakPoll = 500000;

uefi::Firmware &Machine() { return uefi::Machine(); }

inline void OutByte(uint16_t port, uint8_t value) { asm volatile("outb %0, %1" : : "a"(value), "Nd"(port)); }
inline uint8_t InByte(uint16_t port) {
    uint8_t value;
    asm volatile("inb %1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

// Writes UCS-2 units (units[count] is room for a NUL) to the shell's
// standard output, or to the console when there is no shell. The NUL goes
// along although the length is given: the shell hands a console standard
// output's text to the console as it stands, to its first NUL.
void Emit(Char16 *units, size_t count) {
    uefi::Firmware &m = Machine();
    units[count] = 0;
    if (m.Shell) {
        uint64_t size = count * sizeof(Char16);
        m.Shell->WriteFile(m.Parameters->StdOut, &size, units);
        return;
    }
    m.System->ConOut->OutputString(m.System->ConOut, units);
}

// A console standard input is the shell's line reader, which echoes;
// redirected input (a file, a pipe) has a position, the console has none:
// the shell answers a position request on its console input with an error.
bool StandardInputIsConsole() {
    uefi::Firmware &m = Machine();
    if (!m.Shell) return true;
    uint64_t position = 0;
    return m.Shell->GetFilePosition(m.Parameters->StdIn, &position) != uefi::kSuccess;
}

}  // namespace

bool UefiTransferBuffer::Allocate(size_t size) {
    if (Size() >= size) return true;   // a block set aside earlier serves
    void *block = nullptr;
    if (size == 0 || Machine().Boot->AllocatePool(uefi::kLoaderData, size, &block) != uefi::kSuccess) return false;
    UseBlock(static_cast<uint8_t *>(block), size);
    return true;
}

UefiPlatform::UefiPlatform() : keysFromConsole_(StandardInputIsConsole()) {}

// The updater ends its lines with '\n' alone; the console needs "\r\n".
void UefiPlatform::Write(const char *text, size_t length) {
    Char16 piece[kOutputPiece + 2];
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) piece[n++] = '\r';
        piece[n++] = Char16(uint8_t(text[i]));
        if (n >= kOutputPiece) {
            Emit(piece, n);
            n = 0;
        }
    }
    if (n > 0) Emit(piece, n);
}

// Reads the top of the 4 GiB space from the dump: its last byte is at
// 0xFFFFFFFF; bytes outside it stay 0xFF. False when it cannot be opened.
bool UefiPlatform::ReadDump(const Char16 *dumpName, uint32_t address, uint8_t *out, size_t count) {
    char name[kNameRoom];
    size_t n = 0;
    for (; dumpName[n] != 0; ++n) {
        if (n + 1 >= sizeof name) return false;
        name[n] = uefi::ToByte(dumpName[n]);
    }
    name[n] = '\0';
    DosFile dump = files_.OpenForReading(name);
    if (dump == kNoFile) return false;
    uint32_t size = 0;
    if (files_.Length(dump, size) && size > 0) {
        const uint64_t base = kFourGiB - size;
        const uint64_t begin = address > base ? address : base;
        const uint64_t end = uint64_t(address) + count < kFourGiB ? uint64_t(address) + count : kFourGiB;
        if (begin < end && files_.Seek(dump, uint32_t(begin - base)))
            files_.Read(dump, out + (begin - address), size_t(end - begin));
    }
    files_.Close(dump);
    return true;
}

void UefiPlatform::ReadPhysical(uint32_t address, uint8_t *out, size_t count) {
    std::memset(out, 0xFF, count);
    uefi::Firmware &m = Machine();
    const Char16 *dump = m.Shell ? m.Shell->GetEnv(kFirmwareDumpVariable) : nullptr;
    if (dump && dump[0] != 0) {
        if (!ReadDump(dump, address, out, count) && !dumpRefused_) {
            dumpRefused_ = true;   // one line, not one per read
            DosConsole::Write("FWPACK_FIRMWARE_DUMP: cannot open ");
            for (size_t i = 0; dump[i] != 0; ++i) {
                const char c = uefi::ToByte(dump[i]);
                Write(&c, 1);
            }
            DosConsole::Write("\n");
        }
        return;
    }
    // Volatile, byte by byte: flash and device memory are read as they are,
    // one access per byte, never combined or skipped by the compiler.
    const uint64_t end = uint64_t(address) + count < kFourGiB ? uint64_t(address) + count : kFourGiB;
    for (uint64_t at = address; at < end; ++at)
        out[at - address] = *reinterpret_cast<const volatile uint8_t *>(uintptr_t(at));
}

int UefiPlatform::RunCommand(const char *commandLine) { return RunShellCommand(commandLine, files_); }

int UefiPlatform::StopRequest() {
    uefi::Firmware &m = Machine();
    if (!stopped_ && m.Shell && m.Shell->ExecutionBreak && m.Boot->CheckEvent(m.Shell->ExecutionBreak) == uefi::kSuccess)
        stopped_ = true;
    return stopped_ ? kBreakExitCode : 0;
}

void UefiPlatform::DiscardTypeAhead() {
    if (!keysFromConsole_) return;
    uefi::SimpleTextInput *in = Machine().System->ConIn;
    uefi::InputKey key{};
    while (in->ReadKeyStroke(in, &key) == uefi::kSuccess)
        if (key.ScanCode == 0 && key.UnicodeChar == kCtrlC) stopped_ = true;
}

int UefiPlatform::ReadKey() { return keysFromConsole_ ? ReadConsoleKey() : ReadRedirectedKey(); }

// Waits for a key or the shell's break; a timer wakes the wait now and
// then to look at the break, which the shell signals on Ctrl-C.
int UefiPlatform::ReadConsoleKey() {
    uefi::Firmware &m = Machine();
    uefi::SimpleTextInput *in = m.System->ConIn;
    uefi::Event timer = nullptr;
    if (m.Boot->CreateEvent(uefi::kTimerEvent, 0, nullptr, nullptr, &timer) == uefi::kSuccess)
        m.Boot->SetTimer(timer, uefi::kTimerPeriodic, kBreakPoll);
    int key = kEndOfInput;
    for (;;) {
        if (StopRequest() != 0) {
            key = kStopRequested;
            break;
        }
        uefi::InputKey k{};
        if (in->ReadKeyStroke(in, &k) == uefi::kSuccess) {
            if (k.ScanCode != 0) key = kExtendedKey | (k.ScanCode & 0xFF);
            else if (k.UnicodeChar == kCtrlC) { stopped_ = true; key = kStopRequested; }
            else if (k.UnicodeChar > 0xFF) key = kExtendedKey | (k.UnicodeChar & 0xFF);
            else if (k.UnicodeChar == 0) continue;
            else key = k.UnicodeChar;
            break;
        }
        uefi::Event events[2] = {in->WaitForKey, timer};
        uint64_t which = 0;
        m.Boot->WaitForEvent(timer ? 2 : 1, events, &which);
    }
    if (timer) m.Boot->CloseEvent(timer);
    return key;
}

// The next byte of the redirected input, -1 at its end.
int UefiPlatform::InputByte() {
    if (pending_ >= 0) {
        const int b = pending_;
        pending_ = -1;
        return b;
    }
    uefi::Firmware &m = Machine();
    uint8_t b = 0;
    uint64_t size = 1;
    if (m.Shell->ReadFile(m.Parameters->StdIn, &size, &b) != uefi::kSuccess || size != 1) return -1;
    return b;
}

// Redirected input comes as the file holds it: the shell hands a file's
// bytes over unchanged, so input that begins with the UCS-2 byte-order mark
// (FF FE, as the shell's own output) is read in 16-bit units, any other
// byte by byte.
int UefiPlatform::ReadRedirectedKey() {
    if (StopRequest() != 0) return kStopRequested;
    if (input_ == Input::Unknown) {
        input_ = Input::Bytes;
        const int first = InputByte();
        if (first != 0xFF) {
            pending_ = first;
        } else {
            const int second = InputByte();
            if (second != 0xFE) {
                pending_ = second;
                return first;
            }
            input_ = Input::Wide;
        }
    }
    const int low = InputByte();
    if (low < 0) return kEndOfInput;
    if (input_ == Input::Bytes) return low;
    const int high = InputByte();
    if (high < 0) return kEndOfInput;
    return high != 0 ? kExtendedKey | low : low;
}

// The PC speaker: timer channel 2 in square-wave mode at the tone, gated
// onto the speaker through port 0x61.
void UefiPlatform::Beep(unsigned hertz, unsigned milliseconds) {
    constexpr uint32_t kTimerClock = 1193182;
    if (hertz >= 20 && hertz <= 20000) {
        const uint32_t divisor = kTimerClock / hertz;
        OutByte(0x43, 0xB6);
        OutByte(0x42, uint8_t(divisor));
        OutByte(0x42, uint8_t(divisor >> 8));
        OutByte(0x61, InByte(0x61) | 0x03);
    }
    Delay(milliseconds);
    OutByte(0x61, InByte(0x61) & ~0x03);
}

void UefiPlatform::Delay(unsigned milliseconds) { Machine().Boot->Stall(uint64_t(milliseconds) * 1000); }

// Redirected output ("> OUT.TXT" on the updater) is a file the shell holds
// open: what the run printed is flushed to it too, or a reset loses it.
void UefiPlatform::Restart() {
    files_.CloseAll();
    uefi::Firmware &m = Machine();
    m.Shell->FlushFile(m.Parameters->StdOut);
    m.System->RuntimeServices->ResetSystem(uefi::ResetType::Cold, uefi::kSuccess, 0, nullptr);
}

}  // namespace fwpack
