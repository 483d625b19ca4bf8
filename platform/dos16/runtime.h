// The DOS half of the platform seam: what a real-mode DOS program of this
// project gets from DOS, the BIOS and the hardware. Results are values:
// a count, handle or position >= 0, or the negated DOS error code.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

// Failures of the runtime's own, beside DOS's error codes (all below 0x100):
// a buffer outside the low 64 KiB of DS, which DOS cannot address; a command
// tail longer than DOS's 126 characters; standard output not redirected.
inline constexpr int32_t kBufferOutOfReach = -0x100;
inline constexpr int32_t kCommandTooLong = -0x101;
inline constexpr int32_t kRedirectFailed = -0x102;
inline constexpr int kEndOfInput = -1;
inline constexpr int kBreakPressed = -2;
// A key DOS reads as two bytes (0, then its scan code): Alt with a key,
// the function and cursor keys. ReadKey gives kExtendedKey | scan code.
inline constexpr int kExtendedKey = 0x100;
// Execute's answer when the program did not end normally: by Ctrl-C or
// Ctrl-Break, by a critical-error abort, or by staying resident.
inline constexpr int32_t kEndedAbnormally = -0x103;
// The exit code of a program the runtime itself stops, with one line that
// says why: a processor below the 386, DOS before 3.0, a memory block DOS
// would not resize at start, or a stack found overflowed at the end.
inline constexpr int kRuntimeFailure = 255;

// Start-up: the segment of the program segment prefix (command tail at
// 80h, environment segment at 2Ch), and the end of the program.
uint16_t PspSegment();
// Ends the program: a stack that reached its guard is reported and turns
// the code into kRuntimeFailure, and DOS's buffers are flushed first.
[[noreturn]] void Exit(int code);
// The stack bytes, from its bottom, that nothing has written since start-up
// (interrupt handlers included): what the program's deepest call left over.
size_t StackUnused();
// The lowest bytes of the stack: a run that wrote there has used all of
// its stack, or more, and may have written over the data below it.
inline constexpr size_t kStackGuard = 64;

// Writes what DOS holds in its buffers to the disks (INT 21h AH=0Dh), which
// disk caches hook to write their own.
void FlushBuffers();

// Files, through DOS handles.
enum class OpenMode : uint8_t { Read = 0, Write = 1, ReadWrite = 2 };
enum class SeekFrom : uint8_t { Start = 0, Current = 1, End = 2 };
int32_t OpenFile(const char *name, OpenMode mode);
int32_t CreateFile(const char *name);
int32_t ReadFile(int handle, void *buffer, uint16_t count);
int32_t WriteFile(int handle, const void *buffer, uint16_t count);
int32_t SeekFile(int handle, int32_t offset, SeekFrom from);
int32_t CloseFile(int handle);
int32_t DeleteFile(const char *name);
bool FileExists(const char *name);

// Memory beyond the data segment: a block of DOS's, addressed as a segment
// and 16-bit offsets from it. AllocateParagraphs gives the block's segment
// or the negated DOS error (8 when too little memory is free); DOS frees it
// when the program ends. The far reads and writes move at most 64 KiB less
// one byte in one call, from offset on.
int32_t AllocateParagraphs(uint16_t paragraphs);
void FillFar(uint16_t segment, uint8_t value, uint16_t count);
int32_t ReadFileFar(int handle, uint16_t segment, uint16_t offset, uint16_t count);
int32_t WriteFileFar(int handle, uint16_t segment, uint16_t offset, uint16_t count);

// Console output (standard output, so that it can be redirected).
void Write(const char *text, size_t length);
void Print(const char *text);
// printf's %s %c %d %u %x %X %% with an optional '0' flag and width.
size_t FormatV(char *out, size_t capacity, const char *format, va_list args);
size_t Format(char *out, size_t capacity, const char *format, ...);
void Printf(const char *format, ...);

// One key without echo; kEndOfInput when standard input is a file that
// has no more bytes (DOS would repeat the last byte forever); kBreakPressed
// when Ctrl-C or Ctrl-Break ended the wait (with the break handlers in).
int ReadKey();
// Forgets the keys typed so far, when standard input is the keyboard.
void DiscardTypeAhead();

// Ctrl-C, Ctrl-Break and critical errors: with the program's handlers in, a
// break is only noted (BreakRequested) and a DOS call that meets a critical
// error fails. DOS puts its own handlers back when the program ends;
// Execute gives them to the program it runs.
void InstallBreakHandlers();
void RemoveBreakHandlers();
bool BreakHandlersInstalled();
// Whether Ctrl-C or Ctrl-Break was pressed since the handlers went in.
bool BreakRequested();

// Timing and sound.
void Delay(uint32_t milliseconds);
void Beep(uint16_t hertz, uint32_t milliseconds);

// The environment: the program's own full path, and a variable's value.
// Both return the text's length, or -1 when it is missing or does not fit.
int32_t OwnPath(char *out, size_t capacity);
int32_t GetEnvironment(const char *name, char *out, size_t capacity);

// Runs a program file (no command interpreter) with a command tail of at
// most 126 characters, and the two file control blocks DOS parses from that
// tail; its exit code (0-255), kEndedAbnormally, or the negated DOS error.
// With an output file, the program's standard output goes there.
int32_t Execute(const char *program, const char *arguments, const char *outputFile = nullptr);

// Runs a tool the way the updater runs its flash programs: a program file
// directly (DOS's command interpreters answer 0 whatever the program
// returned); only a batch file (.BAT) goes through the interpreter named by
// COMSPEC, and then its result says nothing about the tool's.
int32_t RunTool(const char *program, const char *arguments, const char *outputFile = nullptr);

// A hardware reset: keyboard controller, then the reset control port, then
// the reset vector. Does not return.
[[noreturn]] void RestartMachine();

}  // namespace dos16
