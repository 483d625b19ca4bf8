#include <algorithm>
#include <string>
#include <vector>
#include <zlib.h>

#include "dos/bios_id.h"
#include "dos/bios_version.h"
#include "dos/dos_switches.h"
#include "dos/dos_updater.h"
#include "dos/me_version.h"
#include "dos/tag_scan.h"
#include "dos/work_files.h"
#include "payload/bytes.h"
#include "payload/checksum16.h"
#include "payload/dos_limits.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "payload/zlib_engine.h"
#include "platform/dos_platform.h"

namespace fwpack {

namespace {

constexpr size_t kTransferSize = kDosTransferSize;
constexpr int kWasteWrites = 150;
// Bytes a package may carry after its last file.
constexpr uint64_t kTrailingRoom = kTransferSize;
// Command lines are built inside a 260-byte option field.
constexpr size_t kCommandRoom = kNameFieldSize;
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

class DosUpdater {
  public:
    explicit DosUpdater(DosPlatform &os) : os_(os), transfer_(kTransferSize) {}
    int Run(int argc, const char *const *argv);

  private:
    void Print(const std::string &text) { os_.Write(text.data(), text.size()); }
    bool FileExists(const char *path) { return os_.Files().Exists(path); }
    void RemoveFile(const std::string &path) { os_.Files().Remove(path.c_str()); }
    int Finish(int code, Cleanup cleanup);
    int DeleteFiles(int mode);

    enum class WasteResult { Written, OpenFailed, WriteFailed };
    WasteResult WriteWasteFile();
    int ScanOwnFile();
    static const PackageStep &StepOf(uint16_t id);
    std::vector<FileRecord> &TableOf(uint16_t id);
    int RefuseSecondResource(uint16_t id, uint32_t at);
    int FailToWrite(const char *name, const PackageStep &step);
    void ReadOptionBlock(DosFile self, uint32_t at);
    int UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                      std::vector<FileRecord> &table);
    int WritePackageFiles(const std::string &path, const PackageStep &step,
                          std::vector<FileRecord> &table);
    bool SumFile(const std::string &path, uint16_t &sum);
    const FileRecord *FindImage(const std::vector<FileRecord> &table, const std::string &name);
    int CheckImage(const std::vector<FileRecord> &table, const std::string &name,
                   const ImageCheck &check);
    void ApplyOptionFlags();
    int CheckIdentity();
    enum class Answer { Yes, No, Stop };
    Answer Ask();
    int StopIfAsked();
    int FlashBios();
    int FlashMe();
    int End();

    DosPlatform &os_;
    DosSwitches sw_;
    bool deleteAtEnd_ = false, restartN_ = false, restartR_ = false, keepAll_ = false,
         keepK0_ = false, keepK1_ = false, keepK2_ = false;
    OptionBlock option_;
    BiosIdRecord packageId_, machineId_;
    // fiA, fiB, fiC: what each package unpacked, at most 5 records each.
    std::vector<FileRecord> fiA_, fiB_, fiC_;
    std::vector<uint8_t> transfer_;
    std::vector<std::string> scratch_;   // scratch files this run created
    bool meSkipped_ = false;
};

int DosUpdater::Finish(int code, Cleanup cleanup) {
    for (const std::string &name : scratch_) RemoveFile(name);
    scratch_.clear();
    if (cleanup == Cleanup::Everything) DeleteFiles(1);
    else RemoveFile(kWasteFile);
    return code;
}

// Removes what the packages unpacked, and the filler and ME tool output.
// The names come from the package, so they are removed directly and never
// handed to the command interpreter.
int DosUpdater::DeleteFiles(int mode) {
    if (mode != 1) return 1;
    for (const auto *table : {&fiA_, &fiB_, &fiC_})
        for (const FileRecord &record : *table) RemoveFile(record.FileName);
    RemoveFile(kWasteFile);
    RemoveFile(kMeLog);
    RemoveFile(kErrorLog);
    return 0;
}

// The filler is written whole or not at all: a short write (a full disk)
// fails the step.
DosUpdater::WasteResult DosUpdater::WriteWasteFile() {
    std::fill(transfer_.begin(), transfer_.end(), 0xFF);
    RemoveFile(kWasteFile);
    DosFiles &files = os_.Files();
    DosFile waste = files.CreateForWriting(kWasteFile);
    if (waste == kNoFile) return WasteResult::OpenFailed;
    bool ok = true;
    for (int i = 0; ok && i < kWasteWrites; ++i)
        ok = files.Write(waste, transfer_.data(), transfer_.size()) == transfer_.size();
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
    TagScanner scanner(files, self, long(size), transfer_.data(), transfer_.size());
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
                if (files.Read(self, length, 4) != 4) std::fill(length, length + 4, 0);
            ReadU32(length, sizeof length, 0, bodyLength);
            result = UnpackPackage(self, at, bodyLength, StepOf(id), TableOf(id));
            if (result != 0) break;
        }
        seen |= tagBit(id);
        if (seen == kAllTags) break;
        if ((result = StopIfAsked()) != 0) break;
        // The byte right after a resource is not looked at.
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

std::vector<FileRecord> &DosUpdater::TableOf(uint16_t id) {
    return id == DosPackage ? fiA_ : id == BiosPackage ? fiB_ : fiC_;
}

// A second copy of a resource is refused rather than read over the first:
// what the first one unpacked is known and removed.
int DosUpdater::RefuseSecondResource(uint16_t id, uint32_t at) {
    const bool package = id != OptionResource;
    Print("\nThe file holds a second ");
    Print(package ? StepOf(id).Name : "option block");
    Print(" at offset " + std::to_string(at) + ". Exit the Flash!");
    return Finish(package ? StepOf(id).ExitCode : dos_exit::TagsMissing, Cleanup::Everything);
}

void DosUpdater::ReadOptionBlock(DosFile self, uint32_t at) {
    DosFiles &files = os_.Files();
    std::vector<uint8_t> block(kOptionBlockSize, 0);
    if (files.Seek(self, at + kTaggedHeaderSize))
        files.Read(self, block.data(), block.size());   // a short block reads as zeros
    option_ = OptionBlock{};
    // A field without its NUL keeps all its bytes; the rooms checked later
    // (image names, command lines) refuse such a text.
    ParseOptionBlock(block.data(), block.size(), option_);
    if (option_.IdString.empty()) {
        Print("\nCheck Bios Version Failed!");
        Print("\nCan Not Get Version Information!");
    }
    strToStruct(option_.IdString, packageId_);
}

int DosUpdater::UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                              std::vector<FileRecord> &table) {
    DosFiles &files = os_.Files();
    if (step.Intro) Print(step.Intro);
    RemoveFile(step.Scratch);
    DosFile out = files.CreateForWriting(step.Scratch);
    if (out == kNoFile) {
        Print(step.OpenFailed);
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    scratch_.push_back(step.Scratch);
    uint32_t remaining = bodyLength;
    if (!files.Seek(self, at + kTaggedHeaderSize)) remaining = 0;
    bool written = true;
    while (written && remaining > 0) {
        size_t got = files.Read(self, transfer_.data(), std::min<size_t>(remaining, kTransferSize));
        if (got == 0) break;   // a body cut short by the end of the file
        written = files.Write(out, transfer_.data(), got) == got;
        remaining -= uint32_t(got);
    }
    if (!files.Close(out)) written = false;
    // A scratch file cut short by a full disk would only show later as a
    // damaged stream or package.
    if (!written) return FailToWrite(step.Scratch, step);

    Print(step.Separate);
    Print("\nUsing the zlib data compression library");
    Print(std::string("\nzlib version ") + zlibVersion());
    Print(step.Decompress);

    std::string package = step.Scratch;
    if (step.Unpacked) {
        RemoveFile(step.Unpacked);
        scratch_.push_back(step.Unpacked);
        int r = unzip(step.Scratch, step.Unpacked);
        if (r != 0) {
            Print(step.UnzipFailed + std::to_string(r) + "\n");
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
// gigabytes needs no more memory than the transfer buffer.
int DosUpdater::WritePackageFiles(const std::string &path, const PackageStep &step,
                                  std::vector<FileRecord> &table) {
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(path.c_str());
    uint64_t size = 0;
    if (uint32_t length = 0; in != kNoFile && files.Length(in, length)) size = length;
    auto fail = [&](const std::string &text) {
        if (in != kNoFile) files.Close(in);
        Print(text);
        return Finish(step.ExitCode, Cleanup::Everything);
    };
    auto damaged = [&](PackageError e) {
        return fail(std::string("\nThe package is damaged: ") + PackageErrorText(e) + ". Exit the Flash!");
    };
    uint8_t head[kPackageHeaderSize + kDosRecordTableRoom * kFileRecordSize];
    if (size < kPackageHeaderSize || !files.Seek(in, 0) ||
        files.Read(in, head, kPackageHeaderSize) != kPackageHeaderSize)
        return damaged(PackageError::TooShort);
    // Each record table has room for five records.
    uint32_t count = 0;
    ReadU32(head, kPackageHeaderSize, 0, count);
    if (count > kDosRecordTableRoom)
        return fail("\nThe package holds " + std::to_string(count) +
                    " files, more than the 5 this program can hold. Exit the Flash!");
    const size_t tableSize = size_t(count) * kFileRecordSize;
    if (kPackageHeaderSize + tableSize > size ||
        files.Read(in, head + kPackageHeaderSize, tableSize) != tableSize)
        return damaged(PackageError::TableOverflow);

    std::vector<FileRecord> records(count);
    std::vector<uint64_t> offsets(count);
    uint64_t cursor = kPackageHeaderSize + tableSize;
    for (uint32_t i = 0; i < count; ++i) {
        const PackageError read =
            ReadFileRecord(head, sizeof head, kPackageHeaderSize + i * kFileRecordSize, records[i]);
        if (read != PackageError::None) return damaged(read);
        if (!IsBareFileName(records[i].FileName)) return damaged(PackageError::NameNotBare);
        // Written here, it would replace the package being read, or a later
        // step's work, and be deleted with it.
        if (IsDosWorkFileName(records[i].FileName.c_str()))
            return fail("\nThe package holds a file named like a work file of this program: " +
                        records[i].FileName + ". Exit the Flash!");
        if (cursor + records[i].Size > size) return damaged(PackageError::SizePastEnd);
        offsets[i] = cursor;
        cursor += records[i].Size;
    }
    // A writer may pad a package, but not by more than one transfer piece.
    if (size - cursor > kTrailingRoom)
        return fail("\nThe package is damaged: " + std::to_string(size - cursor) +
                    " bytes follow its last file. Exit the Flash!");
    table = records;   // known before writing, so a failure removes what was written
    for (uint32_t i = 0; i < count; ++i) {
        const FileRecord &record = records[i];
        RemoveFile(record.FileName);
        DosFile out = files.CreateForWriting(record.FileName.c_str());
        bool ok = out != kNoFile && files.Seek(in, uint32_t(offsets[i]));
        for (uint32_t done = 0; ok && done < record.Size;) {
            size_t n = std::min<size_t>(record.Size - done, kTransferSize);
            ok = files.Read(in, transfer_.data(), n) == n && files.Write(out, transfer_.data(), n) == n;
            done += uint32_t(n);
        }
        if (out != kNoFile && !files.Close(out)) ok = false;
        if (!ok) {
            files.Close(in);
            return FailToWrite(record.FileName.c_str(), step);
        }
        if (step.Tools) os_.MakeRunnable(record.FileName.c_str());
    }
    files.Close(in);
    return 0;
}

bool DosUpdater::SumFile(const std::string &path, uint16_t &sum) {
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(path.c_str());
    if (in == kNoFile) return false;
    uint32_t running = 0;
    size_t n;
    while ((n = files.Read(in, transfer_.data(), kTransferSize)) > 0)
        running = Checksum16Add(running, transfer_.data(), n);
    files.Close(in);
    sum = uint16_t(running);
    return true;
}

const FileRecord *DosUpdater::FindImage(const std::vector<FileRecord> &table, const std::string &name) {
    for (size_t i = 0; i < table.size() && i < kDosRecordTableRoom; ++i)
        if (table[i].FileName == name) return &table[i];
    return nullptr;
}

// The image is one of the files just unpacked here: its checksum must
// match its record's, compared as 16-bit values. A name that leads
// elsewhere (a device that never ends, another folder) is not read.
int DosUpdater::CheckImage(const std::vector<FileRecord> &table, const std::string &name,
                           const ImageCheck &check) {
    const FileRecord *record = FindImage(table, name);
    uint16_t expected = record ? uint16_t(record->Checksum) : 0;
    Print(check.Begin);
    const std::string kind = check.Kind;
    if (name.size() >= kDosImageNameRoom) {
        Print("\nThe " + kind + " bin file name is too long (at most " +
              std::to_string(kDosImageNameMax) + " characters): " + name);
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    if (!name.empty() && !IsBareFileName(name)) {
        Print("\nThe " + kind + " bin file name is not a plain file name: " + name);
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    uint16_t sum = 0;
    if (!SumFile(name, sum)) {
        Print("\nFail to open " + kind + " bin file, can't get checksum");
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    if (sum != expected) {
        Print("\nThe " + kind + " bin file has destroyed, checksum error");
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
    strToStruct(biosInfoToString(GetBiosInfo(os_)), machineId_);
    if (!sw_.ForceType && machineId_.SystemName() != packageId_.SystemName()) {
        Print("\nThe Current System:" + std::string(machineId_.SystemName()));
        Print("\nThe File System:" + std::string(packageId_.SystemName()));
        Print("\nThe System Different. Exit the Flash!");
        return Finish(dos_exit::SystemDiffers, Cleanup::Everything);
    }
    Print("\nThe Old Bios Version:" + std::string(machineId_.BiosVersion()));
    Print("\nThe New Bios Version:" + std::string(packageId_.BiosVersion()));

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
            Print(std::string(1, char(key)));
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

int DosUpdater::FlashBios() {
    std::string command = option_.DosFlashProgram + " " + option_.BiosImageName + " " + " /P /B";
    if (sw_.NoReboot) command += " /N";
    if (restartR_) command += " /R";
    else if (restartN_) command += " /N";
    if (keepAll_) {
        command += " /K";
    } else {
        if (keepK0_) command += " /K0";
        if (keepK1_) command += " /K1";
        if (keepK2_) command += " /K2";
    }
    if (command.size() >= kCommandRoom) {
        Print("\nThe flash command line is too long: " + command);
        return Finish(dos_exit::BiosFlashFailed, Cleanup::Everything);
    }
    if (sw_.Debug) Print("\nsetinfo.szAutoExecFileDOS :\n" + command);
    Print("\nInvoke the exe file!\n");
    if (os_.RunCommand(command.c_str()) != 0) {
        Print("\n" + command + " run fail\n");
        return Finish(dos_exit::BiosFlashFailed, Cleanup::Everything);
    }
    return 0;
}

int DosUpdater::FlashMe() {
    RemoveFile(kErrorLog);
    RemoveFile(kMeLog);
    std::string query = option_.DosMeQueryTool + " > " + kMeLog;
    if (query.size() >= kCommandRoom) {
        Print("\nThe ME information command line is too long: " + query);
        return Finish(dos_exit::CurrentMeVersion, Cleanup::Everything);
    }
    os_.RunCommand(query.c_str());   // what it found is in the log, or nowhere
    MeVersion current{};
    if (FileExists(kMeLog)) {
        if (!GetCurMEVersion(kMeLog, current, os_.Files(), os_)) {
            Print("\nCan not get current ME version from log!");
            return Finish(dos_exit::CurrentMeVersion, Cleanup::Everything);
        }
        Print("\nCurrent ME version: " + MeVersionText(current));
    }
    MeVersion fresh{};
    if (!GetNewMEVersion(option_.MeImageName, fresh, os_.Files(), os_, transfer_.data(),
                         transfer_.size())) {
        Print("\nCan not get the new ME version!");
        return Finish(dos_exit::NewMeVersion, Cleanup::Everything);
    }
    Print("\nThe New ME version: " + MeVersionText(fresh));

    if (CompareMEVersion(current, fresh) != 2) {
        meSkipped_ = true;
        Print("\nME Version is less or same to Current Version.");
        return 0;
    }
    std::string update = option_.DosMeUpdateTool + " -F" + " " + option_.MeImageName;
    if (update.size() >= kCommandRoom) {
        Print("\nThe ME update command line is too long: " + update);
        return Finish(dos_exit::MeFlashFailed, Cleanup::Everything);
    }
    if (int r = StopIfAsked()) return r;
    RemoveFile(kErrorLog);
    Print("\n" + update);
    os_.RunCommand(update.c_str());   // the tool reports failure through error.log only
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
    DosUpdater run(platform);
    return run.Run(argc, argv);
}

}  // namespace fwpack
