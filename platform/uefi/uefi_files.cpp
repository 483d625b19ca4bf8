#include "platform/uefi/uefi_files.h"

#include "platform/uefi/runtime.h"

namespace fwpack {

namespace {

using uefi::Char16;

// File names the updater makes are 8.3 names or option-block paths of at
// most 260 bytes.
constexpr size_t kNameRoom = 300;
constexpr uefi::Status kVolumeFull = uefi::kErrorBit | 11;
constexpr uint64_t kEndOfFile = ~uint64_t(0);

uefi::ShellProtocol &Shell() { return *uefi::Machine().Shell; }

struct WideName {
    Char16 Text[kNameRoom];
    bool Fits;
    explicit WideName(const char *name) : Fits(uefi::ToUcs2(name, Text, kNameRoom)) {}
};

// The text of the file-path nodes of a device path, joined with '\'; false
// when there is none or it does not fit.
bool FilePathText(const uefi::DevicePathNode *node, Char16 (&out)[kNameRoom]) {
    size_t n = 0;
    while (node->Type != uefi::kEndOfPath) {
        const size_t length = size_t(node->Length[0]) | size_t(node->Length[1]) << 8;
        if (length < sizeof *node) return false;
        if (node->Type == uefi::kMediaDevicePath && node->SubType == uefi::kFilePathNode) {
            const auto *text = reinterpret_cast<const Char16 *>(node + 1);
            const size_t units = (length - sizeof *node) / 2;
            if (n > 0 && out[n - 1] != '\\' && units > 0 && text[0] != '\\' && n + 1 < kNameRoom) out[n++] = '\\';
            for (size_t i = 0; i < units && text[i] != 0; ++i) {
                if (n + 1 >= kNameRoom) return false;
                out[n++] = text[i];
            }
        }
        node = reinterpret_cast<const uefi::DevicePathNode *>(reinterpret_cast<const uint8_t *>(node) + length);
    }
    out[n] = 0;
    return n > 0;
}

}  // namespace

DosFile UefiFiles::Keep(void *handle, bool shell) {
    for (int k = 0; k < kSlots; ++k) {
        if (slots_[k].Handle != nullptr) continue;
        slots_[k] = {handle, shell};
        return k;
    }
    // No slot: the file is closed again and the caller sees a failed open.
    if (shell) Shell().CloseFile(handle);
    else static_cast<uefi::File *>(handle)->Close(static_cast<uefi::File *>(handle));
    return kNoFile;
}

UefiFiles::Slot *UefiFiles::At(DosFile file) {
    if (file < 0 || file >= kSlots || slots_[file].Handle == nullptr) return nullptr;
    return &slots_[file];
}

DosFile UefiFiles::OpenForReading(const char *path) {
    WideName name(path);
    uefi::ShellFile handle = nullptr;
    if (!name.Fits || Shell().OpenFileByName(name.Text, &handle, uefi::kFileModeRead) != uefi::kSuccess) return kNoFile;
    return Keep(handle, true);
}

// The file is made anew: an old one is deleted first, so that nothing of
// it is left behind a shorter new content.
DosFile UefiFiles::CreateForWriting(const char *path) {
    WideName name(path);
    if (!name.Fits) return kNoFile;
    Shell().DeleteFileByName(name.Text);
    uefi::ShellFile handle = nullptr;
    if (Shell().CreateFile(name.Text, 0, &handle) != uefi::kSuccess) return kNoFile;
    return Keep(handle, true);
}

bool UefiFiles::Seek(DosFile file, uint32_t offset) {
    Slot *s = At(file);
    if (!s) return false;
    if (s->Shell) return Shell().SetFilePosition(s->Handle, offset) == uefi::kSuccess;
    auto *f = static_cast<uefi::File *>(s->Handle);
    return f->SetPosition(f, offset) == uefi::kSuccess;
}

bool UefiFiles::Length(DosFile file, uint32_t &length) {
    Slot *s = At(file);
    if (!s) return false;
    uint64_t size = 0;
    if (s->Shell) {
        if (Shell().GetFileSize(s->Handle, &size) != uefi::kSuccess) return false;
    } else {
        // The firmware's interface tells the length as the position at the end.
        auto *f = static_cast<uefi::File *>(s->Handle);
        uint64_t here = 0;
        if (f->GetPosition(f, &here) != uefi::kSuccess || f->SetPosition(f, kEndOfFile) != uefi::kSuccess) return false;
        const bool told = f->GetPosition(f, &size) == uefi::kSuccess;
        f->SetPosition(f, here);
        if (!told) return false;
    }
    if (size > UINT32_MAX) return false;
    length = uint32_t(size);
    return true;
}

size_t UefiFiles::Read(DosFile file, uint8_t *out, size_t count) {
    Slot *s = At(file);
    if (!s) return 0;
    uint64_t size = count;
    uefi::Status status;
    if (s->Shell) {
        status = Shell().ReadFile(s->Handle, &size, out);
    } else {
        auto *f = static_cast<uefi::File *>(s->Handle);
        status = f->Read(f, &size, out);
    }
    return status == uefi::kSuccess && size <= count ? size_t(size) : 0;
}

size_t UefiFiles::Write(DosFile file, const uint8_t *data, size_t count) {
    Slot *s = At(file);
    diskFull_ = false;
    if (!s || !s->Shell || count == 0) return 0;
    uint64_t size = count;
    const uefi::Status status = Shell().WriteFile(s->Handle, &size, data);
    diskFull_ = status == kVolumeFull;
    return status == uefi::kSuccess && size <= count ? size_t(size) : 0;
}

bool UefiFiles::Close(DosFile file) {
    Slot *s = At(file);
    if (!s) return false;
    bool kept;
    if (s->Shell) {
        kept = Shell().FlushFile(s->Handle) == uefi::kSuccess;
        kept = Shell().CloseFile(s->Handle) == uefi::kSuccess && kept;
    } else {
        auto *f = static_cast<uefi::File *>(s->Handle);
        kept = f->Close(f) == uefi::kSuccess;
    }
    *s = Slot{};
    return kept;
}

void UefiFiles::CloseAll() {
    for (int k = 0; k < kSlots; ++k)
        if (slots_[k].Handle != nullptr) Close(k);
}

bool UefiFiles::Remove(const char *path) {
    WideName name(path);
    return name.Fits && Shell().DeleteFileByName(name.Text) == uefi::kSuccess;
}

bool UefiFiles::Exists(const char *path) {
    DosFile file = OpenForReading(path);
    if (file == kNoFile) return false;
    Close(file);
    return true;
}

DosFile UefiFiles::OpenOwnFile() {
    uefi::Firmware &machine = uefi::Machine();
    void *found = nullptr;
    if (machine.Boot->HandleProtocol(machine.Image, &uefi::kLoadedImageGuid, &found) != uefi::kSuccess) return kNoFile;
    const auto *image = static_cast<uefi::LoadedImage *>(found);
    Char16 path[kNameRoom];
    if (!image->FilePath || !FilePathText(image->FilePath, path)) return kNoFile;
    if (machine.Boot->HandleProtocol(image->DeviceHandle, &uefi::kSimpleFileSystemGuid, &found) != uefi::kSuccess)
        return kNoFile;
    auto *volume = static_cast<uefi::SimpleFileSystem *>(found);
    uefi::File *root = nullptr, *own = nullptr;
    if (volume->OpenVolume(volume, &root) != uefi::kSuccess) return kNoFile;
    const uefi::Status status = root->Open(root, &own, path, uefi::kFileModeRead, 0);
    root->Close(root);
    return status == uefi::kSuccess ? Keep(own, false) : kNoFile;
}

}  // namespace fwpack
