#include <cstring>

#include "dos/bios_id.h"
#include "dos/bios_version.h"
#include "dos/dos_switches.h"
#include "dos/dos_updater.h"
#include "dos/me_version.h"
#include "dos/option_texts.h"
#include "dos/package_records.h"
#include "dos/tag_scan.h"
#include "dos/text.h"
#include "dos/unzip.h"
#include "dos/work_files.h"
#include "payload/bytes.h"
#include "payload/checksum16.h"
#include "payload/dos_limits.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {

constexpr size_t kTransferSize = kDosTransferSize;
constexpr size_t kWorkSize = kDosWorkSize;
static_assert(kWorkSize >= kUnzipWorkMin, "the work buffer holds the decompressor");
constexpr int kWasteWrites = 150;
// Bytes a package may carry after its last file.
constexpr uint64_t kTrailingRoom = kTransferSize;
constexpr unsigned kBeepHertz = 500, kBeepMilliseconds = 100;

// How a package resource is unpacked, and what its step says.
struct PackageStep {
    const char *Name;
    const char *Intro;          // printed first, or null
    const char *Scratch;        // the body as found in the file
    const char *Unpacked;       // the decompressed body, or null for a plain body
    const char *OpenFailed;
    const char *Separate;
    const char *Decompress;
    const char *UnzipFailed;    // followed by the result and "\n"
    const char *Done;
    int ExitCode;
    bool Tools;                 // the files are programs to run
};

constexpr PackageStep kDosStep{"DOS package",
                               nullptr,
                               kDosScratch,
                               kDosUnpacked,
                               "\nFail to open compress flash file.",
                               "\nSeparate the compress exe file.",
                               "\nDecompress the exe file.",
                               "\nError! udosexe = ",
                               "\nDecompress the EXE file OK.",
                               dos_exit::ToolOrBiosPackage,
                               true};
constexpr PackageStep kBinStep{"BIOS package",
                               nullptr,
                               kBinScratch,
                               nullptr,
                               "\nFail to open compress bin file.",
                               "\nSeparate the compress bin file",
                               "\nDecompress the bin file.",
                               nullptr,
                               "\nDecompress the bin file OK.",
                               dos_exit::ToolOrBiosPackage,
                               false};
constexpr PackageStep kMeStep{"ME package",
                              "\nReady to read ME bin file",
                              kMeScratch,
                              kMeUnpacked,
                              "\nFail to open compress ME bin file.",
                              "\nSeparate the compress bin file",
                              "\nDecompress the ME bin file.",
                              "\nError! unMEbin = ",
                              "\nDecompress the ME bin file OK.",
                              dos_exit::MePackage,
                              false};

// How an unpacked image is checked, and what the check says.
struct ImageCheck {
    const char *Begin;
    const char *Kind;  // "BIOS" or "ME" in the messages
    int OpenExit, ChecksumExit;
};
constexpr ImageCheck kBiosCheck{"\nBegin to check bin file.", "BIOS", dos_exit::BiosImageOpen,
                                dos_exit::BiosChecksum};
constexpr ImageCheck kMeCheck{"\nBegin to check ME bin file.", "ME", dos_exit::MeImageOpen,
                              dos_exit::MeChecksum};

enum class Cleanup { WasteOnly, Everything };

// What the run keeps of an unpacked file: its name lives in the name pool.
struct UnpackedFile {
    uint32_t Checksum = 0;
    uint32_t Size = 0;
    const char *FileName = nullptr;
};

// What one package unpacked: at most five records.
struct FileTable {
    UnpackedFile Records[kDosRecordTableRoom];
    uint32_t Count = 0;
};

// The names of every file unpacked, each with its NUL, one after another.
struct NamePool {
    char Bytes[kDosFileNamesRoom] = {};
    size_t Used = 0;
};

// The scratch files of a run: each step's body and its decompressed form.
constexpr size_t kScratchRoom = 6;

// Everything a run keeps besides the platform and its transfer buffer, in
// static storage, so that a DOS stack stays small. One run at a time uses it.
struct RunMemory {
    alignas(16) uint8_t Work[kWorkSize] = {};
    DosOptions Options = {};
    // fiA, fiB, fiC: what each package unpacked.
    FileTable Tables[3];
    NamePool Names;
};
// Zeros from the start: no constructor has to run before main.
constinit RunMemory gRunMemory;

class DosUpdater {
  public:
    DosUpdater(DosPlatform &os, RunMemory &memory);
    int Run(int argc, const char *const *argv);

  private:
    void Print(TextView text) { os_.Write(text.Data, text.Length); }
    void PrintMeVersion(const MeVersion &version) {
        FixedText<kMeVersionTextRoom> text;
        MeVersionText(version, text);
        Print(text.View());
    }
    void PrintNumber(uint32_t value) {
        FixedText<kNumberTextRoom> text;
        Print(text.AppendNumber(value).View());
    }
    bool FileExists(const char *path) { return os_.Files().Exists(path); }
    void RemoveFile(const char *path) { os_.Files().Remove(path); }
    int Finish(int code, Cleanup cleanup);
    int DeleteFiles(int mode);

    enum class WasteResult { Written, NoMemory, OpenFailed, WriteFailed };
    WasteResult WriteWasteFile();
    int ScanOwnFile();
    static const PackageStep &StepOf(uint16_t id);
    FileTable &TableOf(uint16_t id);
    int RefuseSecondResource(uint16_t id, uint32_t at);
    int FailToWrite(const char *name, const PackageStep &step);
    void ReadOptionBlock(DosFile self, uint32_t at);
    int UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                      FileTable &table);
    int WritePackageFiles(const char *path, const PackageStep &step, FileTable &table);
    int RefusePackage(DosFile in, const PackageStep &step, PackageError e);
    bool SumFile(const char *path, uint16_t &sum);
    int RefuseNames(DosFile in, const PackageStep &step, const char *name);
    static const UnpackedFile *FindImage(const FileTable &table, const char *name);
    int CheckImage(const FileTable &table, const char *name, const ImageCheck &check);
    void ApplyOptionFlags();
    int CheckIdentity();
    enum class Answer { Yes, No, Stop };
    Answer Ask();
    int StopIfAsked();
    int RefuseLongCommand(const char *what, const TextBuilder &command, int exitCode);
    int FlashBios();
    int FlashMe();
    int End();

    DosPlatform &os_;
    DosSwitches sw_;
    bool deleteAtEnd_ = false, restartN_ = false, restartR_ = false, keepAll_ = false,
         keepK0_ = false, keepK1_ = false, keepK2_ = false;
    DosOptions &option_;
    BiosIdRecord packageId_, machineId_;
    FileTable &fiA_, &fiB_, &fiC_;
    NamePool &names_;
    DosTransferBuffer &transfer_;
    uint8_t *const work_;
    const char *scratch_[kScratchRoom] = {};   // scratch files this run created
    size_t scratchCount_ = 0;
    bool meSkipped_ = false;
};

DosUpdater::DosUpdater(DosPlatform &os, RunMemory &memory)
    : os_(os),
      option_(memory.Options),
      fiA_(memory.Tables[0]),
      fiB_(memory.Tables[1]),
      fiC_(memory.Tables[2]),
      names_(memory.Names),
      transfer_(os.Transfer()),
      work_(memory.Work) {
    std::memset(&option_, 0, sizeof option_);
    for (FileTable &table : memory.Tables) table.Count = 0;
    names_.Used = 0;
}

int DosUpdater::Finish(int code, Cleanup cleanup) {
    for (size_t i = 0; i < scratchCount_; ++i) RemoveFile(scratch_[i]);
    scratchCount_ = 0;
    if (cleanup == Cleanup::Everything) DeleteFiles(1);
    else RemoveFile(kWasteFile);
    return code;
}

// Removes what the packages unpacked, and the filler and ME tool output.
// The names come from the package, so they are removed directly and never
// handed to the command interpreter.
int DosUpdater::DeleteFiles(int mode) {
    if (mode != 1) return 1;
    const FileTable *tables[] = {&fiA_, &fiB_, &fiC_};
    for (const FileTable *table : tables)
        for (uint32_t i = 0; i < table->Count; ++i) RemoveFile(table->Records[i].FileName);
    RemoveFile(kWasteFile);
    RemoveFile(kMeLog);
    RemoveFile(kErrorLog);
    return 0;
}

// The filler is written whole or not at all: a short write (a full disk)
// fails the step.
DosUpdater::WasteResult DosUpdater::WriteWasteFile() {
    if (!transfer_.Allocate(kTransferSize)) return WasteResult::NoMemory;
    transfer_.Fill(0xFF, kTransferSize);
    RemoveFile(kWasteFile);
    DosFiles &files = os_.Files();
    DosFile waste = files.CreateForWriting(kWasteFile);
    if (waste == kNoFile) return WasteResult::OpenFailed;
    bool ok = true;
    for (int i = 0; ok && i < kWasteWrites; ++i)
        ok = transfer_.WriteTo(waste, kTransferSize) == kTransferSize;
    if (!files.Close(waste)) ok = false;
    if (ok) return WasteResult::Written;
    RemoveFile(kWasteFile);
    return WasteResult::WriteFailed;
}

// Offsets are unsigned 32-bit values checked against the file's size, so a
// length read from the file cannot send the scan backwards.
int DosUpdater::ScanOwnFile() {
    DosFiles &files = os_.Files();
    DosFile self = os_.OpenOwnFile();
    if (self == kNoFile) {
        Print("\nOpen selffile fail!");
        return Finish(dos_exit::OwnFile, Cleanup::WasteOnly);
    }
    uint32_t size = 0;
    if (!files.Length(self, size)) size = 0;

    constexpr unsigned kAllTags = 0xF;
    auto tagBit = [](uint16_t id) {
        return id == DosPackage ? 1u : id == BiosPackage ? 2u : id == OptionResource ? 4u : 8u;
    };
    TagScanner scanner(files, self, long(size), work_, kWorkSize);
    unsigned seen = 0;
    uint32_t p = 0;
    int result = 0;
    for (;;) {
        uint16_t id = 0;
        long found = size > kDosScanMargin ? scanner.FindTag(long(p), long(size - kDosScanMargin), &id) : -1;
        if (found < 0) {
            Print("\nCan not find useful file to flash BIOS or ME.");
            result = Finish(dos_exit::TagsMissing, Cleanup::WasteOnly);
            break;
        }
        const uint32_t at = uint32_t(found);
        if (seen & tagBit(id)) {
            result = RefuseSecondResource(id, at);
            break;
        }
        uint32_t bodyLength = 0;
        if (id == OptionResource) {
            ReadOptionBlock(self, at);
        } else {
            uint8_t length[4] = {};
            if (files.Seek(self, at + kTagLength))
                if (files.Read(self, length, 4) != 4) std::memset(length, 0, sizeof length);
            ReadU32(length, sizeof length, 0, bodyLength);
            result = UnpackPackage(self, at, bodyLength, StepOf(id), TableOf(id));
            if (result != 0) break;
        }
        seen |= tagBit(id);
        if (seen == kAllTags) break;
        if ((result = StopIfAsked()) != 0) break;
        // A tag that begins right after a body is found: resources lie
        // back to back in a PE.
        p = ScanResumeOffset(at, bodyLength, size);
    }
    files.Close(self);
    return result;
}

int DosUpdater::FailToWrite(const char *name, const PackageStep &step) {
    Print("\nFail to write ");
    Print(name);
    Print(". Exit the Flash!");
    return Finish(step.ExitCode, Cleanup::Everything);
}

const PackageStep &DosUpdater::StepOf(uint16_t id) {
    return id == DosPackage ? kDosStep : id == BiosPackage ? kBinStep : kMeStep;
}

FileTable &DosUpdater::TableOf(uint16_t id) {
    return id == DosPackage ? fiA_ : id == BiosPackage ? fiB_ : fiC_;
}

// A second copy of a resource is refused rather than read over the first:
// what the first one unpacked is known and removed.
int DosUpdater::RefuseSecondResource(uint16_t id, uint32_t at) {
    const bool package = id != OptionResource;
    Print("\nThe file holds a second ");
    Print(package ? StepOf(id).Name : "option block");
    Print(" at offset ");
    PrintNumber(at);
    Print(". Exit the Flash!");
    return Finish(package ? StepOf(id).ExitCode : dos_exit::TagsMissing, Cleanup::Everything);
}

// The block is read into the work buffer, which the tag scan borrows only
// while it searches.
void DosUpdater::ReadOptionBlock(DosFile self, uint32_t at) {
    static_assert(kOptionBlockSize <= kWorkSize, "the option block fits the work buffer");
    DosFiles &files = os_.Files();
    uint8_t *block = work_;
    std::memset(block, 0, kOptionBlockSize);
    if (files.Seek(self, at + kTaggedHeaderSize))
        files.Read(self, block, kOptionBlockSize);   // a short block reads as zeros
    // A field without its NUL keeps all its bytes; the rooms checked later
    // (image names, command lines) refuse such a text.
    ReadDosOptions(block, kOptionBlockSize, option_);
    if (option_.IdString[0] == '\0') {
        Print("\nCheck Bios Version Failed!");
        Print("\nCan Not Get Version Information!");
    }
    strToStruct(option_.IdString, packageId_);
}

int DosUpdater::UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                              FileTable &table) {
    DosFiles &files = os_.Files();
    if (step.Intro) Print(step.Intro);
    RemoveFile(step.Scratch);
    DosFile out = files.CreateForWriting(step.Scratch);
    if (out == kNoFile) {
        Print(step.OpenFailed);
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    scratch_[scratchCount_++] = step.Scratch;
    uint32_t remaining = bodyLength;
    if (!files.Seek(self, at + kTaggedHeaderSize)) remaining = 0;
    bool written = true;
    while (written && remaining > 0) {
        size_t got = transfer_.ReadFrom(self, remaining < kTransferSize ? remaining : kTransferSize);
        if (got == 0) break;   // a body cut short by the end of the file
        written = transfer_.WriteTo(out, got) == got;
        remaining -= uint32_t(got);
    }
    if (!files.Close(out)) written = false;
    // A scratch file cut short by a full disk would only show later as a
    // damaged stream or package.
    if (!written) return FailToWrite(step.Scratch, step);

    Print(step.Separate);
    Print("\nUsing the zlib data compression library");
    Print("\nzlib version ");
    Print(UnzipLibraryVersion());
    Print(step.Decompress);

    const char *package = step.Scratch;
    if (step.Unpacked) {
        RemoveFile(step.Unpacked);
        scratch_[scratchCount_++] = step.Unpacked;
        // Nothing else uses the work buffer while the stream is inflated.
        int r = unzip(os_.Files(), step.Scratch, step.Unpacked, work_, kWorkSize);
        if (r != 0) {
            Print(step.UnzipFailed);
            FixedText<kNumberTextRoom> result;
            Print(result.AppendSignedNumber(r).View());
            Print("\n");
            return Finish(step.ExitCode, Cleanup::Everything);
        }
        RemoveFile(step.Scratch);
        package = step.Unpacked;
    }
    int result = WritePackageFiles(package, step, table);
    if (result != 0) return result;
    RemoveFile(package);
    Print(step.Done);
    return 0;
}

// The package is read piece by piece: its record table first, then each
// file's bytes straight into the file, so a package that decompressed to
// gigabytes needs no more memory than the work and transfer buffers.
int DosUpdater::WritePackageFiles(const char *path, const PackageStep &step, FileTable &table) {
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(path);
    uint64_t size = 0;
    if (uint32_t length = 0; in != kNoFile && files.Length(in, length)) size = length;
    // The header and the record table are read into the work buffer.
    constexpr size_t kHeadRoom = kPackageHeaderSize + kDosRecordTableRoom * kFileRecordSize;
    static_assert(kHeadRoom <= kWorkSize, "the record table fits the work buffer");
    uint8_t *head = work_;
    if (size < kPackageHeaderSize || !files.Seek(in, 0) ||
        files.Read(in, head, kPackageHeaderSize) != kPackageHeaderSize)
        return RefusePackage(in, step, PackageError::TooShort);
    // Each record table has room for five records.
    uint32_t count = 0;
    ReadU32(head, kPackageHeaderSize, 0, count);
    if (count > kDosRecordTableRoom) {
        files.Close(in);
        Print("\nThe package holds ");
        PrintNumber(count);
        Print(" files, more than the 5 this program can hold. Exit the Flash!");
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    const size_t tableSize = size_t(count) * kFileRecordSize;
    if (kPackageHeaderSize + tableSize > size ||
        files.Read(in, head + kPackageHeaderSize, tableSize) != tableSize)
        return RefusePackage(in, step, PackageError::TableOverflow);

    // The records go to the table, which counts them only once all are
    // known: a failure then removes what was written, and nothing else.
    uint32_t offsets[kDosRecordTableRoom] = {};
    uint64_t cursor = kPackageHeaderSize + tableSize;
    size_t namesUsed = names_.Used;
    for (uint32_t i = 0; i < count; ++i) {
        DosFileRecord record;
        const PackageError read = ReadDosFileRecord(head, kHeadRoom, kPackageHeaderSize + i * kFileRecordSize, record);
        if (read != PackageError::None) return RefusePackage(in, step, read);
        if (!IsBareName(record.FileName, std::strlen(record.FileName)))
            return RefusePackage(in, step, PackageError::NameNotBare);
        // Written here, it would replace the package being read, or a later
        // step's work, and be deleted with it.
        if (IsDosWorkFileName(record.FileName)) {
            files.Close(in);
            Print("\nThe package holds a file named like a work file of this program: ");
            Print(record.FileName);
            Print(". Exit the Flash!");
            return Finish(step.ExitCode, Cleanup::Everything);
        }
        if (cursor + record.Size > size) return RefusePackage(in, step, PackageError::SizePastEnd);
        const size_t nameSize = std::strlen(record.FileName) + 1;
        if (nameSize > kDosFileNamesRoom - namesUsed) return RefuseNames(in, step, record.FileName);
        std::memcpy(names_.Bytes + namesUsed, record.FileName, nameSize);
        table.Records[i] = {record.Checksum, record.Size, names_.Bytes + namesUsed};
        namesUsed += nameSize;
        offsets[i] = uint32_t(cursor);
        cursor += record.Size;
    }
    // A writer may pad a package, but not by more than one transfer piece.
    if (size - cursor > kTrailingRoom) {
        files.Close(in);
        Print("\nThe package is damaged: ");
        PrintNumber(uint32_t(size - cursor));
        Print(" bytes follow its last file. Exit the Flash!");
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    table.Count = count;
    names_.Used = namesUsed;
    for (uint32_t i = 0; i < count; ++i) {
        const UnpackedFile &record = table.Records[i];
        RemoveFile(record.FileName);
        DosFile out = files.CreateForWriting(record.FileName);
        bool ok = out != kNoFile && files.Seek(in, offsets[i]);
        for (uint32_t done = 0; ok && done < record.Size;) {
            const uint32_t left = record.Size - done;
            const size_t n = left < kTransferSize ? left : kTransferSize;
            ok = transfer_.ReadFrom(in, n) == n && transfer_.WriteTo(out, n) == n;
            done += uint32_t(n);
        }
        if (out != kNoFile && !files.Close(out)) ok = false;
        if (!ok) {
            files.Close(in);
            return FailToWrite(record.FileName, step);
        }
        if (step.Tools) os_.MakeRunnable(record.FileName);
    }
    files.Close(in);
    return 0;
}

int DosUpdater::RefusePackage(DosFile in, const PackageStep &step, PackageError e) {
    if (in != kNoFile) os_.Files().Close(in);
    Print("\nThe package is damaged: ");
    Print(PackageErrorText(e));
    Print(". Exit the Flash!");
    return Finish(step.ExitCode, Cleanup::Everything);
}

// The names are known before anything is written, so a package whose
// names the pool cannot hold is refused whole.
int DosUpdater::RefuseNames(DosFile in, const PackageStep &step, const char *name) {
    os_.Files().Close(in);
    Print("\nThe packages' file names take more than the ");
    PrintNumber(kDosFileNamesRoom);
    Print(" bytes this program can hold, from ");
    Print(name);
    Print(" on. Exit the Flash!");
    return Finish(step.ExitCode, Cleanup::Everything);
}

bool DosUpdater::SumFile(const char *path, uint16_t &sum) {
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(path);
    if (in == kNoFile) return false;
    uint32_t running = 0;
    size_t n;
    while ((n = files.Read(in, work_, kWorkSize)) > 0) running = Checksum16Add(running, work_, n);
    files.Close(in);
    sum = uint16_t(running);
    return true;
}

const UnpackedFile *DosUpdater::FindImage(const FileTable &table, const char *name) {
    for (uint32_t i = 0; i < table.Count; ++i)
        if (std::strcmp(table.Records[i].FileName, name) == 0) return &table.Records[i];
    return nullptr;
}

// The image is one of the files just unpacked here: its checksum must
// match its record's, compared as 16-bit values. A name that leads
// elsewhere (a device that never ends, another folder) is not read.
int DosUpdater::CheckImage(const FileTable &table, const char *name, const ImageCheck &check) {
    const UnpackedFile *record = FindImage(table, name);
    uint16_t expected = record ? uint16_t(record->Checksum) : 0;
    Print(check.Begin);
    const size_t length = std::strlen(name);
    if (length >= kDosImageNameRoom) {
        Print("\nThe ");
        Print(check.Kind);
        Print(" bin file name is too long (at most ");
        PrintNumber(kDosImageNameMax);
        Print(" characters): ");
        Print(name);
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    if (length != 0 && !IsBareName(name, length)) {
        Print("\nThe ");
        Print(check.Kind);
        Print(" bin file name is not a plain file name: ");
        Print(name);
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    uint16_t sum = 0;
    if (!SumFile(name, sum)) {
        Print("\nFail to open ");
        Print(check.Kind);
        Print(" bin file, can't get checksum");
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    if (sum != expected) {
        Print("\nThe ");
        Print(check.Kind);
        Print(" bin file has destroyed, checksum error");
        return Finish(check.ChecksumExit, Cleanup::Everything);
    }
    return 0;
}

// The option block's flags only add to the switches.
void DosUpdater::ApplyOptionFlags() {
    uint32_t f = option_.Flags;
    namespace b = option_bit;
    if (f & b::DeleteAtEnd) deleteAtEnd_ = true;
    if (f & b::Factory) sw_.Factory = true;
    if (f & b::ForceIt) sw_.ForceIt = true;
    if (f & b::ForceType) sw_.ForceType = true;
    if (f & b::NoPause) sw_.NoPause = true;
    if (f & b::NoReboot) sw_.NoReboot = true;
    if (f & b::RestartModeN) restartN_ = true;
    if (f & b::RestartModeR) restartR_ = true;
    if (f & b::KeepAll) keepAll_ = true;
    if (f & b::KeepK0) keepK0_ = true;
    if (f & b::KeepK1) keepK1_ = true;
    if (f & b::KeepK2) keepK2_ = true;
}

int DosUpdater::CheckIdentity() {
    // The firmware is searched through the work buffer, free again here.
    FixedText<kBiosInfoRoom> block;
    GetBiosInfo(os_, work_, kWorkSize, block);
    FixedText<kMachineIdRoom> machine;
    biosInfoToString(block.View(), machine);
    strToStruct(machine.View(), machineId_);
    if (!sw_.ForceType && !(machineId_.SystemName() == packageId_.SystemName())) {
        Print("\nThe Current System:");
        Print(machineId_.SystemName());
        Print("\nThe File System:");
        Print(packageId_.SystemName());
        Print("\nThe System Different. Exit the Flash!");
        return Finish(dos_exit::SystemDiffers, Cleanup::Everything);
    }
    Print("\nThe Old Bios Version:");
    Print(machineId_.BiosVersion());
    Print("\nThe New Bios Version:");
    Print(packageId_.BiosVersion());

    constexpr char kNotNewer[] = "\nThe BIOS version is same or lower than current BIOS version.\n";
    int r = CompareBiosVersion(packageId_.BiosVersion(), machineId_.BiosVersion());
    if (r == kVersionNewer) return 0;
    if (r == kVersionSame || r == kVersionOlder || r == kVersionOldUnusable) {
        Print(kNotNewer);
        bool overridden = sw_.ForceIt || (r == kVersionOldUnusable && sw_.Factory);
        return overridden ? 0 : Finish(dos_exit::VersionNotNewer, Cleanup::Everything);
    }
    if (sw_.ForceIt) {
        Print("\nFORCEIT Is Checked, The New Bios Version Will be Flashed.");
        return 0;
    }
    Print("\nThe Bios verison format is wrong!\n");
    return Finish(dos_exit::VersionFormat, Cleanup::Everything);
}

// Waits for y or n; other keys beep. The end of the input answers no, and
// so does anything else that is not a key.
DosUpdater::Answer DosUpdater::Ask() {
    for (;;) {
        int key = os_.ReadKey();
        if (key == kStopRequested && os_.StopRequest() != 0) return Answer::Stop;
        if (key < 0) key = 'n';
        if (key == 'y' || key == 'Y' || key == 'n' || key == 'N') {
            const char answer = char(key);
            Print(TextView(&answer, 1));
            return key == 'y' || key == 'Y' ? Answer::Yes : Answer::No;
        }
        os_.Beep(kBeepHertz, kBeepMilliseconds);
    }
}

// A stop request (Ctrl-C, a signal) ends the run before its next step,
// with the cleanup of a failure.
int DosUpdater::StopIfAsked() {
    int code = os_.StopRequest();
    return code != 0 ? Finish(code, Cleanup::Everything) : 0;
}

// Command lines are built in a room that holds the longest line the option
// fields can make; one that a 260-byte field would not hold is refused.
int DosUpdater::RefuseLongCommand(const char *what, const TextBuilder &command, int exitCode) {
    Print("\nThe ");
    Print(what);
    Print(" command line is too long: ");
    Print(command.View());
    return Finish(exitCode, Cleanup::Everything);
}

bool TooLong(const TextBuilder &command) { return command.Overrun() || command.Length() >= kDosCommandRoom; }

int DosUpdater::FlashBios() {
    FixedText<kDosCommandTextRoom> command;
    command.Append(option_.DosFlashProgram).Append(" ").Append(option_.BiosImageName).Append(" ").Append(" /P /B");
    if (sw_.NoReboot) command.Append(" /N");
    if (restartR_) command.Append(" /R");
    else if (restartN_) command.Append(" /N");
    if (keepAll_) {
        command.Append(" /K");
    } else {
        if (keepK0_) command.Append(" /K0");
        if (keepK1_) command.Append(" /K1");
        if (keepK2_) command.Append(" /K2");
    }
    if (TooLong(command)) return RefuseLongCommand("flash", command, dos_exit::BiosFlashFailed);
    if (sw_.Debug) {
        Print("\nsetinfo.szAutoExecFileDOS :\n");
        Print(command.View());
    }
    Print("\nInvoke the exe file!\n");
    if (os_.RunCommand(command.CStr()) != 0) {
        Print("\n");
        Print(command.View());
        Print(" run fail\n");
        return Finish(dos_exit::BiosFlashFailed, Cleanup::Everything);
    }
    return 0;
}

int DosUpdater::FlashMe() {
    RemoveFile(kErrorLog);
    RemoveFile(kMeLog);
    // One room for both command lines: a DOS stack has little to spare.
    FixedText<kDosCommandTextRoom> command;
    command.Append(option_.DosMeQueryTool).Append(" > ").Append(kMeLog);
    if (TooLong(command)) return RefuseLongCommand("ME information", command, dos_exit::CurrentMeVersion);
    os_.RunCommand(command.CStr());   // what it found is in the log, or nowhere
    MeVersion current{};
    if (FileExists(kMeLog)) {
        if (!GetCurMEVersion(kMeLog, current, os_.Files(), os_)) {
            Print("\nCan not get current ME version from log!");
            return Finish(dos_exit::CurrentMeVersion, Cleanup::Everything);
        }
        Print("\nCurrent ME version: ");
        PrintMeVersion(current);
    }
    MeVersion fresh{};
    if (!GetNewMEVersion(option_.MeImageName, fresh, os_.Files(), os_, work_, kWorkSize)) {
        Print("\nCan not get the new ME version!");
        return Finish(dos_exit::NewMeVersion, Cleanup::Everything);
    }
    Print("\nThe New ME version: ");
    PrintMeVersion(fresh);

    if (CompareMEVersion(current, fresh) != 2) {
        meSkipped_ = true;
        Print("\nME Version is less or same to Current Version.");
        return 0;
    }
    command.Clear();
    command.Append(option_.DosMeUpdateTool).Append(" -F").Append(" ").Append(option_.MeImageName);
    if (TooLong(command)) return RefuseLongCommand("ME update", command, dos_exit::MeFlashFailed);
    if (int r = StopIfAsked()) return r;
    RemoveFile(kErrorLog);
    Print("\n");
    Print(command.View());
    os_.RunCommand(command.CStr());   // the tool reports failure through error.log only
    if (FileExists(kErrorLog)) {
        Print("Flash ME fail");
        return Finish(dos_exit::MeFlashFailed, Cleanup::Everything);
    }
    RemoveFile(kErrorLog);
    return 0;
}

int DosUpdater::End() {
    RemoveFile(kWasteFile);
    int deleted = DeleteFiles(deleteAtEnd_ ? 1 : 0);
    if (sw_.Debug) {
        Print(deleted == 0 ? "\nThe files remove." : "\nThe files not remove");
        os_.Delay(5000);
    } else {
        os_.Delay(2000);
    }

    if (sw_.Factory) return dos_exit::Success;
    if (!sw_.NoPause) {
        if (sw_.NoReboot) return dos_exit::Success;
        Print("\nRestart System(Yes/No)?");
        switch (Ask()) {
        case Answer::Yes: break;
        case Answer::No:
            return meSkipped_ ? dos_exit::RestartDeclinedMeSkipped : dos_exit::RestartDeclinedMeFlashed;
        case Answer::Stop: return os_.StopRequest();   // the cleanup above is all there is
        }
    }
    os_.Restart();
    Print("\nThe system could not be restarted.");
    return dos_exit::RestartFailed;
}

int DosUpdater::Run(int argc, const char *const *argv) {
    switch (ParseDosSwitches(argc, argv, sw_, os_)) {
    case SwitchResult::Help: return dos_exit::Success;
    case SwitchResult::Bad: return dos_exit::BadSwitch;
    case SwitchResult::Run: break;
    }
    Print("\nDON'T POWER OFF the system during the update process.");
    switch (WriteWasteFile()) {
    case WasteResult::Written: break;
    case WasteResult::NoMemory:
        Print("\nNot enough memory for the ");
        PrintNumber(kTransferSize);
        Print("-byte transfer buffer.");
        return dos_exit::WasteFile;
    case WasteResult::OpenFailed: Print("\nfail to open waste.dat"); return dos_exit::WasteFile;
    case WasteResult::WriteFailed: Print("\nfail to write waste.dat"); return dos_exit::WasteFile;
    }
    if (int r = StopIfAsked()) return r;
    if (int r = ScanOwnFile()) return r;
    if (int r = CheckImage(fiB_, option_.BiosImageName, kBiosCheck)) return r;
    ApplyOptionFlags();
    if (int r = CheckIdentity()) return r;
    if (!sw_.NoPause && !sw_.Factory) {
        Print("\nUpdate BIOS(Yes/No)?");
        switch (Ask()) {
        case Answer::Yes: break;
        case Answer::No: return Finish(dos_exit::UpdateDeclined, Cleanup::Everything);
        case Answer::Stop: return StopIfAsked();
        }
    }
    if (int r = StopIfAsked()) return r;
    if (int r = FlashBios()) return r;
    if (int r = StopIfAsked()) return r;
    if (int r = CheckImage(fiC_, option_.MeImageName, kMeCheck)) return r;
    if (int r = FlashMe()) return r;
    if (int r = StopIfAsked()) return r;
    return End();
}

}  // namespace

int DosUpdaterMain(int argc, const char *const *argv, DosPlatform &platform) {
    DosUpdater run(platform, gRunMemory);
    return run.Run(argc, argv);
}

}  // namespace fwpack
