// What the DOS updater needs from the machine it runs on: files, its own
// file, memory for its transfer buffer, running the tools, the
// keyboard, the speaker, delays, physical memory below 4 GiB, the reset,
// and the text console. The updater's logic
// sees nothing else of the operating system.
//
// Plain types only (character and byte pointers with lengths, integers), so
// that a layer without a standard library can implement it. Texts passed as
// a pointer alone end with a NUL.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fwpack {

// Console text output. Every line the updater shows goes through here.
class DosConsole {
  public:
    virtual ~DosConsole() = default;
    virtual void Write(const char *text, size_t length) = 0;
    void Write(const char *text) {
        size_t length = 0;
        while (text[length] != '\0') ++length;
        Write(text, length);
    }
};

// Reads of 32-bit physical addresses, as flat real mode gives them. Bytes
// that cannot be read come back as 0xFF, as an unmapped bus reads.
class PhysicalMemoryReader {
  public:
    virtual ~PhysicalMemoryReader() = default;
    virtual void ReadPhysical(uint32_t address, uint8_t *out, size_t count) = 0;
};

// An open file, as the platform numbers it; kNoFile when there is none.
using DosFile = int;
inline constexpr DosFile kNoFile = -1;

// Files as DOS handles them: opened by name, read and written in order from
// where the last seek left them, closed by the caller.
class DosFiles {
  public:
    virtual ~DosFiles() = default;
    // An existing file, for reading only; kNoFile when it cannot be opened.
    virtual DosFile OpenForReading(const char *path) = 0;
    // A file made anew (an existing one is emptied), for writing only;
    // kNoFile when it cannot be made.
    virtual DosFile CreateForWriting(const char *path) = 0;
    // Moves to offset bytes from the start. False when it cannot.
    virtual bool Seek(DosFile file, uint32_t offset) = 0;
    // The file's length. False when it cannot be told or exceeds 32 bits.
    virtual bool Length(DosFile file, uint32_t &length) = 0;
    // Up to count bytes; the number read, short only at the end of the file
    // or when reading failed.
    virtual size_t Read(DosFile file, uint8_t *out, size_t count) = 0;
    // The number of bytes written, short only when writing failed.
    virtual size_t Write(DosFile file, const uint8_t *data, size_t count) = 0;
    // True when the last write that fell short did so for want of room on
    // the disk.
    virtual bool DiskFull() { return false; }
    // False when what was written could not be kept.
    virtual bool Close(DosFile file) = 0;
    // Deletes a file. False when there is none or it cannot be deleted.
    virtual bool Remove(const char *path) = 0;
    // Whether a file or folder of that name exists.
    virtual bool Exists(const char *path) = 0;
};

// The run's transfer buffer: memory outside the logic's own data, which the
// logic never addresses itself. It fills the block and moves file bytes
// through it, always from the block's start. On DOS the block lies beyond
// the program's 64 KiB data segment and is reached through a segment
// register; elsewhere it is ordinary memory.
class DosTransferBuffer {
  public:
    virtual ~DosTransferBuffer() = default;
    // Sets aside size bytes; false when the machine cannot give them. Once
    // set aside, the block stays until the program ends.
    virtual bool Allocate(size_t size) = 0;
    // Sets the first count bytes (at most the size set aside) to value.
    virtual void Fill(uint8_t value, size_t count) = 0;
    // Reads up to count bytes of file into the block: the number read, short
    // only at the end of the file or when reading failed.
    virtual size_t ReadFrom(DosFile file, size_t count) = 0;
    // Writes the block's first count bytes to file: the number written,
    // short only when writing failed.
    virtual size_t WriteTo(DosFile file, size_t count) = 0;
};

// A transfer buffer that is one block of ordinary memory, moving bytes
// through files: Fill, ReadFrom and WriteTo for every layer whose block the
// logic's pointers can reach; each layer sets the block aside its own way.
class BlockTransferBuffer : public DosTransferBuffer {
  public:
    explicit BlockTransferBuffer(DosFiles &files) : files_(files) {}
    void Fill(uint8_t value, size_t count) override {
        for (size_t i = 0, n = Clamp(count); i < n; ++i) block_[i] = value;
    }
    size_t ReadFrom(DosFile file, size_t count) override {
        return block_ ? files_.Read(file, block_, Clamp(count)) : 0;
    }
    size_t WriteTo(DosFile file, size_t count) override {
        return block_ ? files_.Write(file, block_, Clamp(count)) : 0;
    }

  protected:
    // The block set aside: size bytes at block.
    void UseBlock(uint8_t *block, size_t size) {
        block_ = block;
        size_ = size;
    }
    size_t Size() const { return size_; }

  private:
    size_t Clamp(size_t count) const { return count < size_ ? count : size_; }

    DosFiles &files_;
    uint8_t *block_ = nullptr;
    size_t size_ = 0;
};

inline constexpr int kEndOfInput = -1;
// The exit code of a run that Ctrl-C or Ctrl-Break ended on DOS (on Linux a
// stop signal gives 128 + its number).
inline constexpr int kBreakExitCode = 22;
// RunCommand's answer for a program that ended without finishing its job:
// stopped by Ctrl-C, Ctrl-Break or a signal, ended by a critical-error
// abort, or left resident.
inline constexpr int kCommandAborted = -3;
// ReadKey's answer when the wait was ended by a request to stop the program
// (a signal); StopRequest() then gives the exit code.
inline constexpr int kStopRequested = -2;

// The file names each platform starts as programs: the last three
// characters after a dot, in any case. DOS's, which the Linux layer keeps
// since it runs the same packages; and the UEFI shell's (applications and
// shell scripts).
inline constexpr const char *kDosProgramExtensions[] = {"COM", "EXE", "BAT", nullptr};
inline constexpr const char *kUefiProgramExtensions[] = {"EFI", "NSH", nullptr};

// The UEFI side's helper script and its status file, made and removed in
// the current folder while a script tool runs (dos/work_files.h counts them
// among the run's work files, so no packaged file may have their names).
inline constexpr char kUefiScriptRunner[] = "FWPKRUN.NSH";
inline constexpr char kUefiScriptStatus[] = "FWPKRUN.LOG";

// Whether name ends in '.' and one of the three-letter extensions (a list
// ending with nullptr).
inline bool HasProgramExtension(const char *name, const char *const *extensions) {
    size_t n = 0;
    while (name[n] != '\0') ++n;
    if (n < 4 || name[n - 4] != '.') return false;
    for (; *extensions; ++extensions) {
        bool same = true;
        for (size_t i = 0; i < 3; ++i) same = same && (name[n - 3 + i] & ~0x20) == (*extensions)[i];
        if (same) return true;
    }
    return false;
}

class DosPlatform : public DosConsole, public PhysicalMemoryReader {
  public:
    // Whether RunCommand starts a file of that name as a program.
    virtual bool IsProgramName(const char *name) { return HasProgramExtension(name, kDosProgramExtensions); }
    // The files of the current directory and the program's own file.
    virtual DosFiles &Files() = 0;
    // The transfer buffer, for bulk copies between files.
    virtual DosTransferBuffer &Transfer() = 0;
    // The program's own file, opened through Files() for reading only;
    // kNoFile when it cannot be opened. The caller closes it.
    virtual DosFile OpenOwnFile() = 0;
    // Runs a command line: its first word names the program, looked for in
    // the current directory first, the rest is the program's; a trailing
    // "> name" sends its output to that file. The program's own result,
    // 0 for success (on DOS the program is started by EXEC, not through the
    // command interpreter, which would answer 0 whatever it returned);
    // kCommandAborted when the program did not end normally.
    virtual int RunCommand(const char *commandLine) = 0;
    // Called for every unpacked tool file, so that RunCommand can run it.
    virtual void MakeRunnable(const char *fileName) = 0;
    // Forgets keys typed before a question (type-ahead), so that only a key
    // pressed once it is shown answers it. Redirected input is left alone.
    virtual void DiscardTypeAhead() {}
    // One key, without echo; kEndOfInput when no more keys will come;
    // kStopRequested when a stop request ended the wait. An extended key
    // (a two-byte code) is returned as one value above 0xFF, never as a
    // letter.
    virtual int ReadKey() = 0;
    // 0, or the exit code a request to stop the program asks for; once
    // asked, the run cleans up and ends at its next step.
    virtual int StopRequest() { return 0; }
    virtual void Beep(unsigned hertz, unsigned milliseconds) = 0;
    virtual void Delay(unsigned milliseconds) = 0;
    // Resets the machine; returns only when that failed.
    virtual void Restart() = 0;
};

}  // namespace fwpack
