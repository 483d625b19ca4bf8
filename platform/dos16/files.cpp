// Files through DOS handles (INT 21h). Names and buffers are offsets in DS,
// so both must lie in the program's data segment; the far reads and writes
// take a segment of their own for the buffer.
#include "platform/dos16/dos_call.h"
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

size_t NameSize(const char *name) {
    size_t n = 0;
    while (name[n])
        ++n;
    return n + 1;
}

// The call's ax, or the negated error when DOS failed.
int32_t Result(DosRegisters &r) {
    bool failed = CallDos(r);
    return failed ? -int32_t(r.ax & 0xFFFF) : int32_t(r.ax & 0xFFFF);
}

int32_t NameCall(uint16_t ax, const char *name, uint16_t cx = 0) {
    if (!InDosReach(name, NameSize(name)))
        return kBufferOutOfReach;
    DosRegisters r;
    r.ax = ax;
    r.cx = cx;
    r.dx = reinterpret_cast<uintptr_t>(name);
    return Result(r);
}

int32_t TransferCall(uint16_t ax, int handle, const void *buffer, uint16_t count) {
    if (!InDosReach(buffer, count))
        return kBufferOutOfReach;
    DosRegisters r;
    r.ax = ax;
    r.bx = uint16_t(handle);
    r.cx = count;
    r.dx = reinterpret_cast<uintptr_t>(buffer);
    return Result(r);
}

int32_t FarTransferCall(uint16_t ax, int handle, uint16_t segment, uint16_t offset, uint16_t count) {
    if (count > 0xFFFF - offset)
        return kBufferOutOfReach;
    DosRegisters r;
    r.ax = ax;
    r.bx = uint16_t(handle);
    r.cx = count;
    r.dx = offset;
    bool failed = CallDosWithDs(r, segment);
    return failed ? -int32_t(r.ax & 0xFFFF) : int32_t(r.ax & 0xFFFF);
}

}  // namespace

int32_t OpenFile(const char *name, OpenMode mode) { return NameCall(0x3D00 | uint8_t(mode), name); }

int32_t CreateFile(const char *name) { return NameCall(0x3C00, name); }

int32_t DeleteFile(const char *name) { return NameCall(0x4100, name); }

bool FileExists(const char *name) { return NameCall(0x4300, name) >= 0; }

int32_t ReadFile(int handle, void *buffer, uint16_t count) {
    return TransferCall(0x3F00, handle, buffer, count);
}

int32_t WriteFile(int handle, const void *buffer, uint16_t count) {
    return TransferCall(0x4000, handle, buffer, count);
}

int32_t ReadFileFar(int handle, uint16_t segment, uint16_t offset, uint16_t count) {
    return FarTransferCall(0x3F00, handle, segment, offset, count);
}

int32_t WriteFileFar(int handle, uint16_t segment, uint16_t offset, uint16_t count) {
    return FarTransferCall(0x4000, handle, segment, offset, count);
}

int32_t SeekFile(int handle, int32_t offset, SeekFrom from) {
    DosRegisters r;
    r.ax = 0x4200 | uint8_t(from);
    r.bx = uint16_t(handle);
    r.cx = uint32_t(offset) >> 16;
    r.dx = uint32_t(offset) & 0xFFFF;
    if (CallDos(r))
        return -int32_t(r.ax & 0xFFFF);
    return int32_t((r.dx & 0xFFFF) << 16 | (r.ax & 0xFFFF));
}

int32_t CloseFile(int handle) {
    DosRegisters r;
    r.ax = 0x3E00;
    r.bx = uint16_t(handle);
    return Result(r);
}

void FlushBuffers() {
    DosRegisters r;
    r.ax = 0x0D00;
    CallDos(r);
}

}  // namespace dos16
