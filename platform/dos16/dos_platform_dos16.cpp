#include "platform/dos16/dos_platform_dos16.h"

#include "platform/dos16/command_line.h"
#include "platform/dos16/runtime.h"

namespace fwpack {

namespace {

// DOS moves at most 64 KiB less one paragraph per call.
constexpr size_t kMostPerCall = 0x8000;
constexpr int32_t kDosFileNotFound = -2, kDosPathNotFound = -3;
// As on the Linux layer: a program that cannot be found, or not started.
constexpr int kNotFound = 127, kNotStarted = 126;
constexpr size_t kLineRoom = 300;   // a 260-byte field, " > ", a file name
constexpr size_t kProgramRoom = 80;
// The path DOS started the program by: DOS's full names take up to 128
// bytes, and a program found through PATH can have 80 characters and more.
constexpr size_t kOwnPathRoom = 128;

bool HasExtension(const char *name) {
    const char *dot = nullptr;
    for (const char *p = name; *p; ++p) {
        if (*p == '.') dot = p;
        if (*p == '\\' || *p == '/' || *p == ':') dot = nullptr;
    }
    return dot != nullptr;
}

// name with extension appended into out; false when it does not fit.
bool WithExtension(const char *name, const char *extension, char (&out)[kProgramRoom]) {
    size_t n = 0;
    for (const char *p = name; *p; ++p)
        if (n + 1 < kProgramRoom) out[n++] = *p; else return false;
    for (const char *p = extension; *p; ++p)
        if (n + 1 < kProgramRoom) out[n++] = *p; else return false;
    out[n] = '\0';
    return true;
}

// The program file a name stands for, as the command interpreter looks it
// up in the current directory: the name itself when it has an extension,
// else the first of NAME.COM, NAME.EXE, NAME.BAT that exists.
const char *ProgramFile(const char *name, char (&out)[kProgramRoom]) {
    if (HasExtension(name)) return name;
    static constexpr const char *kExtensions[] = {".COM", ".EXE", ".BAT"};
    for (const char *extension : kExtensions)
        if (WithExtension(name, extension, out) && dos16::FileExists(out)) return out;
    return name;
}

// count bytes moved in calls of at most kMostPerCall, until one moves
// fewer than asked (the end of a file; DOS writes 0 bytes to a full disk).
// move(done, want) is one call: the bytes it moved, or a negated error.
template <typename Move>
size_t InPieces(size_t count, Move move) {
    size_t done = 0;
    while (done < count) {
        const size_t want = count - done < kMostPerCall ? count - done : kMostPerCall;
        const int32_t moved = move(done, uint16_t(want));
        if (moved <= 0) break;
        done += size_t(moved);
        if (size_t(moved) < want) break;
    }
    return done;
}

// DOS writes fewer bytes than asked, without an error, only to a full
// disk: whether the last write through this layer did.
bool gWriteFellShort = false;

template <typename Move>
size_t WriteInPieces(size_t count, Move move) {
    gWriteFellShort = false;
    return InPieces(count, [&](size_t done, uint16_t want) {
        const int32_t put = move(done, want);
        gWriteFellShort = put >= 0 && size_t(put) < want;
        return put;
    });
}

int ExitCodeOf(int32_t result) {
    if (result >= 0) return int(result);
    if (result == dos16::kEndedAbnormally) return kCommandAborted;
    return result == kDosFileNotFound || result == kDosPathNotFound ? kNotFound : kNotStarted;
}

}  // namespace

DosFile Dos16Files::OpenForReading(const char *path) {
    int32_t h = dos16::OpenFile(path, dos16::OpenMode::Read);
    return h < 0 ? kNoFile : DosFile(h);
}

DosFile Dos16Files::CreateForWriting(const char *path) {
    int32_t h = dos16::CreateFile(path);
    return h < 0 ? kNoFile : DosFile(h);
}

bool Dos16Files::Seek(DosFile file, uint32_t offset) {
    if (offset > 0x7FFFFFFFu) return false;
    return dos16::SeekFile(file, int32_t(offset), dos16::SeekFrom::Start) == int32_t(offset);
}

bool Dos16Files::Length(DosFile file, uint32_t &length) {
    int32_t here = dos16::SeekFile(file, 0, dos16::SeekFrom::Current);
    int32_t end = here < 0 ? here : dos16::SeekFile(file, 0, dos16::SeekFrom::End);
    if (here >= 0) dos16::SeekFile(file, here, dos16::SeekFrom::Start);
    if (end < 0) return false;
    length = uint32_t(end);
    return true;
}

size_t Dos16Files::Read(DosFile file, uint8_t *out, size_t count) {
    return InPieces(count, [&](size_t done, uint16_t want) { return dos16::ReadFile(file, out + done, want); });
}

size_t Dos16Files::Write(DosFile file, const uint8_t *data, size_t count) {
    return WriteInPieces(count, [&](size_t done, uint16_t want) { return dos16::WriteFile(file, data + done, want); });
}

bool Dos16Files::Close(DosFile file) { return dos16::CloseFile(file) >= 0; }

bool Dos16Files::Remove(const char *path) { return dos16::DeleteFile(path) >= 0; }

bool Dos16Files::Exists(const char *path) { return dos16::FileExists(path); }

bool Dos16Files::DiskFull() { return gWriteFellShort; }

// One segment holds the block, so that its offsets stay 16-bit.
bool Dos16TransferBuffer::Allocate(size_t size) {
    if (size_ >= size) return true;   // a block set aside earlier serves
    if (size == 0 || size > 0xFFF0) return false;
    const int32_t segment = dos16::AllocateParagraphs(uint16_t((size + 15) / 16));
    if (segment < 0) return false;
    segment_ = uint16_t(segment);
    size_ = size;
    return true;
}

void Dos16TransferBuffer::Fill(uint8_t value, size_t count) {
    if (size_ != 0) dos16::FillFar(segment_, value, uint16_t(Clamp(count)));
}

size_t Dos16TransferBuffer::ReadFrom(DosFile file, size_t count) {
    return InPieces(Clamp(count), [&](size_t done, uint16_t want) {
        return dos16::ReadFileFar(file, segment_, uint16_t(done), want);
    });
}

size_t Dos16TransferBuffer::WriteTo(DosFile file, size_t count) {
    return WriteInPieces(Clamp(count), [&](size_t done, uint16_t want) {
        return dos16::WriteFileFar(file, segment_, uint16_t(done), want);
    });
}

// The updater ends its lines with '\n' alone; DOS's console needs "\r\n",
// or each line starts where the last one ended.
void Dos16Platform::Write(const char *text, size_t length) {
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '\n' || (i > 0 && text[i - 1] == '\r')) continue;
        dos16::Write(text + start, i - start);
        dos16::Write("\r", 1);
        start = i;   // the '\n' goes out with the next piece
    }
    dos16::Write(text + start, length - start);
}

void Dos16Platform::ReadPhysical(uint32_t address, uint8_t *out, size_t count) {
    if (!firmwareOpen_) {
        firmware_.Open();
        firmwareOpen_ = true;
    }
    while (count > 0) {
        uint16_t piece = count < kMostPerCall ? uint16_t(count) : uint16_t(kMostPerCall);
        firmware_.Read(address, out, piece);
        address += piece;
        out += piece;
        count -= piece;
    }
}

DosFile Dos16Platform::OpenOwnFile() {
    char path[kOwnPathRoom];
    if (dos16::OwnPath(path, sizeof path) < 0) return kNoFile;
    return files_.OpenForReading(path);
}

int Dos16Platform::RunCommand(const char *commandLine) {
    char line[kLineRoom];
    size_t n = 0;
    while (commandLine[n] != '\0') {
        if (n + 1 >= sizeof line) return kNotStarted;
        line[n] = commandLine[n];
        ++n;
    }
    line[n] = '\0';
    Dos16Command command = SplitDos16CommandLine(line);
    if (!command.Program) return 0;
    char program[kProgramRoom];
    return ExitCodeOf(dos16::RunTool(ProgramFile(command.Program, program), command.Arguments,
                                     command.Output));
}

int Dos16Platform::ReadKey() {
    int key = dos16::ReadKey();
    if (key == dos16::kBreakPressed) return kStopRequested;
    return key == dos16::kEndOfInput ? kEndOfInput : key;
}

void Dos16Platform::DiscardTypeAhead() { dos16::DiscardTypeAhead(); }

int Dos16Platform::StopRequest() { return dos16::BreakRequested() ? kBreakExitCode : 0; }

void Dos16Platform::Beep(unsigned hertz, unsigned milliseconds) { dos16::Beep(uint16_t(hertz), milliseconds); }

void Dos16Platform::Delay(unsigned milliseconds) { dos16::Delay(milliseconds); }

void Dos16Platform::Restart() { dos16::RestartMachine(); }

}  // namespace fwpack
