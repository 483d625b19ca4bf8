// The firmware's and the shell's tables as the UEFI side uses them: the
// system table, boot and runtime services, the text console, the loaded
// image, files (the simple file system and the file interface), device
// paths, and the shell's own interfaces. Only the members this side calls
// are typed; the others are kept as untyped slots, so that every typed
// member sits at the offset the firmware fills (checked below).
//
// Calls use the Microsoft x64 convention, which is the compiler's own on
// this target (cmake/uefi-x86_64.cmake), so no attribute is needed.
#pragma once
#include <cstddef>
#include <cstdint>

namespace uefi {

using Status = uint64_t;
using Handle = void *;
using Event = void *;
using Char16 = char16_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kErrorBit = uint64_t(1) << 63;
inline constexpr Status kNotReady = kErrorBit | 6;
inline constexpr Status kNotFound = kErrorBit | 14;

struct Guid {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
};

struct TableHeader {
    uint64_t Signature;
    uint32_t Revision, HeaderSize, Crc32, Reserved;
};

struct InputKey {
    uint16_t ScanCode;
    Char16 UnicodeChar;
};

struct SimpleTextInput {
    void *Reset;
    Status (*ReadKeyStroke)(SimpleTextInput *self, InputKey *key);
    Event WaitForKey;
};

struct SimpleTextOutput {
    void *Reset;
    Status (*OutputString)(SimpleTextOutput *self, const Char16 *text);
};

enum class ResetType : uint32_t { Cold = 0, Warm = 1, Shutdown = 2 };

struct RuntimeServicesTable {
    TableHeader Hdr;
    void *TimeAndVariableSlots[10];
    void (*ResetSystem)(ResetType type, Status status, uint64_t dataSize, void *data);
};

inline constexpr uint32_t kLoaderData = 2;
inline constexpr uint32_t kTimerEvent = 0x80000000u, kTimerPeriodic = 1;

struct BootServicesTable {
    TableHeader Hdr;
    void *RaiseTpl, *RestoreTpl, *AllocatePages, *FreePages, *GetMemoryMap;
    Status (*AllocatePool)(uint32_t memoryType, uint64_t size, void **buffer);
    Status (*FreePool)(void *buffer);
    Status (*CreateEvent)(uint32_t type, uint64_t notifyTpl, void *notify, void *context, Event *event);
    Status (*SetTimer)(Event event, uint32_t kind, uint64_t hundredsOfNanoseconds);
    Status (*WaitForEvent)(uint64_t count, Event *events, uint64_t *index);
    void *SignalEvent;
    Status (*CloseEvent)(Event event);
    Status (*CheckEvent)(Event event);
    void *InstallProtocolInterface, *ReinstallProtocolInterface, *UninstallProtocolInterface;
    Status (*HandleProtocol)(Handle handle, const Guid *protocol, void **interface);
    void *Reserved, *RegisterProtocolNotify, *LocateHandle, *LocateDevicePath,
        *InstallConfigurationTable, *LoadImage, *StartImage, *Exit, *UnloadImage, *ExitBootServices,
        *GetNextMonotonicCount;
    Status (*Stall)(uint64_t microseconds);
    Status (*SetWatchdogTimer)(uint64_t timeout, uint64_t code, uint64_t dataSize, const Char16 *data);
    void *ConnectController, *DisconnectController, *OpenProtocol, *CloseProtocol,
        *OpenProtocolInformation, *ProtocolsPerHandle, *LocateHandleBuffer;
    Status (*LocateProtocol)(const Guid *protocol, void *registration, void **interface);
};

struct SystemTable {
    TableHeader Hdr;
    Char16 *FirmwareVendor;
    uint32_t FirmwareRevision;
    Handle ConsoleInHandle;
    SimpleTextInput *ConIn;
    Handle ConsoleOutHandle;
    SimpleTextOutput *ConOut;
    Handle StandardErrorHandle;
    SimpleTextOutput *StdErr;
    RuntimeServicesTable *RuntimeServices;
    BootServicesTable *BootServices;
};

// A device path is a run of nodes, each with its length in its header; the
// end node has type 0x7F.
struct DevicePathNode {
    uint8_t Type, SubType;
    uint8_t Length[2];
};
inline constexpr uint8_t kMediaDevicePath = 4, kFilePathNode = 4, kEndOfPath = 0x7F;

struct LoadedImage {
    uint32_t Revision;
    Handle ParentHandle;
    SystemTable *System;
    Handle DeviceHandle;
    DevicePathNode *FilePath;
};

inline constexpr uint64_t kFileModeRead = 1;

struct File {
    uint64_t Revision;
    Status (*Open)(File *self, File **opened, const Char16 *name, uint64_t mode, uint64_t attributes);
    Status (*Close)(File *self);
    void *Delete;
    Status (*Read)(File *self, uint64_t *size, void *buffer);
    void *Write;
    Status (*GetPosition)(File *self, uint64_t *position);
    Status (*SetPosition)(File *self, uint64_t position);
};

struct SimpleFileSystem {
    uint64_t Revision;
    Status (*OpenVolume)(SimpleFileSystem *self, File **root);
};

// The shell's file handles are its own; they are used only through it.
using ShellFile = void *;
inline constexpr uint64_t kFileModeWrite = 2, kFileModeCreate = uint64_t(1) << 63;

struct ShellProtocol {
    Status (*Execute)(Handle *parentImage, const Char16 *commandLine, const Char16 **environment,
                      Status *exitStatus);
    const Char16 *(*GetEnv)(const Char16 *name);
    void *SetEnv, *GetAlias, *SetAlias, *GetHelpText, *GetDevicePathFromMap, *GetMapFromDevicePath,
        *GetDevicePathFromFilePath, *GetFilePathFromDevicePath, *SetMap, *GetCurDir, *SetCurDir,
        *OpenFileList, *FreeFileList, *RemoveDupInFileList, *BatchIsActive, *IsRootShell,
        *EnablePageBreak, *DisablePageBreak, *GetPageBreak, *GetDeviceName, *GetFileInfo,
        *SetFileInfo;
    Status (*OpenFileByName)(const Char16 *name, ShellFile *file, uint64_t mode);
    Status (*CloseFile)(ShellFile file);
    Status (*CreateFile)(const Char16 *name, uint64_t attributes, ShellFile *file);
    Status (*ReadFile)(ShellFile file, uint64_t *size, void *buffer);
    Status (*WriteFile)(ShellFile file, uint64_t *size, const void *buffer);
    void *DeleteFile;
    Status (*DeleteFileByName)(const Char16 *name);
    Status (*GetFilePosition)(ShellFile file, uint64_t *position);
    Status (*SetFilePosition)(ShellFile file, uint64_t position);
    Status (*FlushFile)(ShellFile file);
    void *FindFiles, *FindFilesInDir;
    Status (*GetFileSize)(ShellFile file, uint64_t *size);
    void *OpenRoot, *OpenRootByHandle;
    Event ExecutionBreak;
    uint32_t MajorVersion, MinorVersion;
};

struct ShellParameters {
    Char16 **Argv;
    uint64_t Argc;
    ShellFile StdIn, StdOut, StdErr;
};

inline constexpr Guid kLoadedImageGuid = {0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr Guid kSimpleFileSystemGuid = {0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr Guid kShellGuid = {0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};
inline constexpr Guid kShellParametersGuid = {0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};

// The offsets the firmware and the shell fill in.
static_assert(sizeof(TableHeader) == 24);
static_assert(offsetof(SystemTable, ConIn) == 48 && offsetof(SystemTable, ConOut) == 64);
static_assert(offsetof(SystemTable, RuntimeServices) == 88 && offsetof(SystemTable, BootServices) == 96);
static_assert(offsetof(RuntimeServicesTable, ResetSystem) == 104);
static_assert(offsetof(BootServicesTable, AllocatePool) == 64 && offsetof(BootServicesTable, WaitForEvent) == 96);
static_assert(offsetof(BootServicesTable, CreateEvent) == 80 && offsetof(BootServicesTable, CloseEvent) == 112);
static_assert(offsetof(BootServicesTable, CheckEvent) == 120 && offsetof(BootServicesTable, HandleProtocol) == 152);
static_assert(offsetof(BootServicesTable, Stall) == 248 && offsetof(BootServicesTable, SetWatchdogTimer) == 256);
static_assert(offsetof(BootServicesTable, LocateProtocol) == 320);
static_assert(offsetof(LoadedImage, DeviceHandle) == 24 && offsetof(LoadedImage, FilePath) == 32);
static_assert(offsetof(File, Read) == 32 && offsetof(File, SetPosition) == 56);
static_assert(offsetof(ShellProtocol, GetEnv) == 8 && offsetof(ShellProtocol, OpenFileByName) == 192);
static_assert(offsetof(ShellProtocol, DeleteFileByName) == 240 && offsetof(ShellProtocol, FlushFile) == 264);
static_assert(offsetof(ShellProtocol, GetFileSize) == 288 && offsetof(ShellProtocol, ExecutionBreak) == 312);
static_assert(offsetof(ShellParameters, StdIn) == 16 && offsetof(ShellParameters, StdOut) == 24);

}  // namespace uefi
