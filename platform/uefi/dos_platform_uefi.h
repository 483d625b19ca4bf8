// The DOS updater's platform in the UEFI shell:
// - files: the shell's, named relative to its current folder (UefiFiles);
//   the program's own file from the volume and path it was loaded from;
// - the transfer buffer: pool memory from the boot services;
// - console: UCS-2 text to the shell's standard output, so that "> file"
//   on the updater works (the shell writes such a file as UCS-2 with a
//   byte-order mark);
// - keys: from the console input without echo when standard input is the
//   console, else the redirected input's characters (bytes, or UCS-2 after
//   a byte-order mark); a key with a scan code (arrows, function keys) is
//   one value above 0xFF;
// - stop requests: the shell's execution break (Ctrl-C) and a Ctrl-C read
//   as a key: exit code 22, as DOS's break;
// - tools: the shell's Execute with the command line as it stands, the
//   trailing "> me.log" included, which the shell carries out; the tool's
//   status is its result (a script's through a helper script, see
//   shell_commands.h); a command the shell cannot run at all is
//   kCommandAborted, so every step that runs it fails;
// - .EFI and .NSH files are programs; nothing needs to be made runnable;
// - delays: the boot services' Stall; beep: the PC speaker (timer channel
//   2 and port 0x61), which machines without one ignore;
// - physical memory: read directly (the firmware maps the space below
//   4 GiB one to one), or the file named by the shell variable
//   FWPACK_FIRMWARE_DUMP read as the top of the 4 GiB space;
// - restart: every file closed and the redirected output flushed, then the
//   runtime services' cold reset.
#pragma once
#include "platform/dos_platform.h"
#include "platform/uefi/uefi_files.h"

namespace fwpack {

class UefiTransferBuffer : public BlockTransferBuffer {
  public:
    using BlockTransferBuffer::BlockTransferBuffer;
    bool Allocate(size_t size) override;
};

class UefiPlatform : public DosPlatform {
  public:
    UefiPlatform();
    bool IsProgramName(const char *name) override { return HasProgramExtension(name, kUefiProgramExtensions); }
    void Write(const char *text, size_t length) override;
    void ReadPhysical(uint32_t address, uint8_t *out, size_t count) override;
    DosFiles &Files() override { return files_; }
    DosTransferBuffer &Transfer() override { return transfer_; }
    DosFile OpenOwnFile() override { return files_.OpenOwnFile(); }
    int RunCommand(const char *commandLine) override;
    void MakeRunnable(const char *) override {}
    void DiscardTypeAhead() override;
    int ReadKey() override;
    int StopRequest() override;
    void Beep(unsigned hertz, unsigned milliseconds) override;
    void Delay(unsigned milliseconds) override;
    void Restart() override;

  private:
    int ReadConsoleKey();
    int ReadRedirectedKey();
    int InputByte();
    bool ReadDump(const uefi::Char16 *dumpName, uint32_t address, uint8_t *out, size_t count);

    UefiFiles files_;
    UefiTransferBuffer transfer_{files_};
    enum class Input { Unknown, Bytes, Wide };
    bool keysFromConsole_ = true;
    Input input_ = Input::Unknown;
    int pending_ = -1;   // a byte of redirected input read ahead
    bool stopped_ = false;
    bool dumpRefused_ = false;
};

}  // namespace fwpack
