// The tag scan of the program's own file and the unpacking of its three
// packages. Nothing of a package is written until every package is known:
// the scan leaves each package unpacked in a scratch file with its records
// read and checked, and only then are the names compared with each other
// and with what the folder already holds, and the files written.
#include <cstring>

#include "dos/package_records.h"
#include "dos/tag_scan.h"
#include "dos/unzip.h"
#include "dos/updater_run.h"
#include "dos/work_files.h"
#include "payload/bytes.h"
#include "payload/dos_names.h"
#include "payload/package_layout.h"
#include "payload/resource_layout.h"

namespace fwpack {

namespace {

// Bytes a package may carry after its last file.
constexpr uint64_t kTrailingRoom = kTransferSize;

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

unsigned TagBit(uint16_t id) {
    return id == DosPackage ? 1u : id == BiosPackage ? 2u : id == OptionResource ? 4u : 8u;
}

}  // namespace

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
    TagScanner scanner(files, self, long(size), work_, kWorkSize);
    unsigned seen = 0;
    uint32_t p = 0;
    int result = 0;
    while (result == 0 && seen != kAllTags) {
        uint16_t id = 0;
        long found = size > kDosScanMargin ? scanner.FindTag(long(p), long(size - kDosScanMargin), &id) : -1;
        if (found < 0) {
            Print("\nCan not find useful file to flash BIOS or ME.");
            result = Finish(dos_exit::TagsMissing, Cleanup::WasteOnly);
            break;
        }
        const uint32_t at = uint32_t(found);
        uint32_t bodyLength = 0;
        result = seen & TagBit(id) ? RefuseSecondResource(id, at) : HandleResource(self, at, id, bodyLength);
        seen |= TagBit(id);
        if (result == 0 && seen != kAllTags) result = StopIfAsked();
        // A tag that begins right after a body is found: resources lie
        // back to back in a PE.
        p = ScanResumeOffset(at, bodyLength, size);
    }
    files.Close(self);
    return result;
}

int DosUpdater::HandleResource(DosFile self, uint32_t at, uint16_t id, uint32_t &bodyLength) {
    if (id == OptionResource) {
        ReadOptionBlock(self, at);
        return 0;
    }
    DosFiles &files = os_.Files();
    uint8_t length[4] = {};
    if (files.Seek(self, at + kTagLength))
        if (files.Read(self, length, 4) != 4) std::memset(length, 0, sizeof length);
    ReadU32(length, sizeof length, 0, bodyLength);
    return UnpackPackage(self, at, bodyLength, StepOf(id), TableOf(id));
}

int DosUpdater::FailToWrite(const char *name, const PackageStep &step) {
    Print("\nFail to write ");
    Print(name);
    if (os_.Files().DiskFull()) Print(": the disk is full");
    Print(". Exit the Flash!");
    return Finish(step.ExitCode, Cleanup::Everything);
}

const PackageStep &DosUpdater::StepOf(uint16_t id) {
    return id == DosPackage ? kDosStep : id == BiosPackage ? kBinStep : kMeStep;
}

FileTable &DosUpdater::TableOf(uint16_t id) {
    return id == DosPackage ? fiA_ : id == BiosPackage ? fiB_ : fiC_;
}

// A second copy of a resource is refused rather than read over the first.
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

// Copies up to length bytes; a stop request is looked at after every piece,
// so that Ctrl-C ends a long copy.
DosUpdater::CopyResult DosUpdater::CopyBytes(DosFile in, DosFile out, uint32_t length) {
    for (uint32_t done = 0; done < length;) {
        const uint32_t left = length - done;
        const size_t n = left < kTransferSize ? left : kTransferSize;
        const size_t got = transfer_.ReadFrom(in, n);
        if (got > 0 && transfer_.WriteTo(out, got) != got) return CopyResult::WriteFailed;
        if (got < n) return CopyResult::ReadShort;
        done += uint32_t(n);
        if (os_.StopRequest() != 0) return CopyResult::Stopped;
    }
    return CopyResult::Done;
}

int DosUpdater::CopyBodyToScratch(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step) {
    DosFiles &files = os_.Files();
    RemoveFile(step.Scratch);
    DosFile out = files.CreateForWriting(step.Scratch);
    if (out == kNoFile) {
        Print(step.OpenFailed);
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    scratch_[scratchCount_++] = step.Scratch;
    // A body cut short by the end of the file is what the file holds.
    CopyResult copied = files.Seek(self, at + kTaggedHeaderSize) ? CopyBytes(self, out, bodyLength) : CopyResult::Done;
    if (!files.Close(out) && copied != CopyResult::Stopped) copied = CopyResult::WriteFailed;
    // A scratch file cut short by a full disk would only show later as a
    // damaged stream or package.
    if (copied == CopyResult::WriteFailed) return FailToWrite(step.Scratch, step);
    if (copied == CopyResult::Stopped) return StopIfAsked();
    return 0;
}

// Nothing else uses the work buffer while the stream is inflated.
int DosUpdater::Decompress(const PackageStep &step) {
    RemoveFile(step.Unpacked);
    scratch_[scratchCount_++] = step.Unpacked;
    int r = unzip(os_.Files(), step.Scratch, step.Unpacked, work_, kWorkSize);
    if (r == kUnzipWriteFailed) return FailToWrite(step.Unpacked, step);
    if (r != 0) {
        Print(step.UnzipFailed);
        FixedText<kNumberTextRoom> result;
        Print(result.AppendSignedNumber(r).View());
        Print("\n");
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    RemoveFile(step.Scratch);
    return 0;
}

int DosUpdater::UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                              FileTable &table) {
    if (step.Intro) Print(step.Intro);
    if (int r = CopyBodyToScratch(self, at, bodyLength, step)) return r;
    Print(step.Separate);
    Print("\nUsing the zlib data compression library");
    Print("\nzlib version ");
    Print(UnzipLibraryVersion());
    Print(step.Decompress);
    if (step.Unpacked)
        if (int r = Decompress(step)) return r;
    const char *package = step.Unpacked ? step.Unpacked : step.Scratch;
    if (int r = ReadPackageRecords(package, step, table)) return r;
    Print(step.Done);
    return 0;
}

// The package is read piece by piece: its record table now, each file's
// bytes once every package is known, straight into the file, so a package
// that decompressed to gigabytes needs no more memory than the work and
// transfer buffers.
int DosUpdater::ReadPackageRecords(const char *path, const PackageStep &step, FileTable &table) {
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(path);
    uint64_t size = 0;
    if (uint32_t length = 0; in != kNoFile && files.Length(in, length)) size = length;
    uint32_t count = 0;
    if (int r = ReadRecordTable(in, size, step, count)) return r;
    if (int r = TakeRecords(in, size, count, step, table)) return r;
    files.Close(in);
    table.Source = path;
    table.Step = &step;
    return 0;
}

// The header and the record table, into the work buffer.
int DosUpdater::ReadRecordTable(DosFile in, uint64_t size, const PackageStep &step, uint32_t &count) {
    DosFiles &files = os_.Files();
    constexpr size_t kHeadRoom = kPackageHeaderSize + kDosRecordTableRoom * kFileRecordSize;
    static_assert(kHeadRoom <= kWorkSize, "the record table fits the work buffer");
    uint8_t *head = work_;
    if (size < kPackageHeaderSize || !files.Seek(in, 0) ||
        files.Read(in, head, kPackageHeaderSize) != kPackageHeaderSize)
        return RefusePackage(in, step, PackageError::TooShort);
    // Each record table has room for five records.
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
    return 0;
}

// The records go to the table, which counts them only once all are known
// and checked; none of their files exists yet.
int DosUpdater::TakeRecords(DosFile in, uint64_t size, uint32_t count, const PackageStep &step,
                            FileTable &table) {
    constexpr size_t kHeadRoom = kPackageHeaderSize + kDosRecordTableRoom * kFileRecordSize;
    uint64_t cursor = kPackageHeaderSize + uint64_t(count) * kFileRecordSize;
    for (uint32_t i = 0; i < count; ++i) {
        DosFileRecord record;
        const PackageError read = ReadDosFileRecord(work_, kHeadRoom, kPackageHeaderSize + i * kFileRecordSize, record);
        if (read != PackageError::None) return RefusePackage(in, step, read);
        if (int r = CheckRecordName(in, step, record.FileName)) return r;
        if (cursor + record.Size > size) return RefusePackage(in, step, PackageError::SizePastEnd);
        const size_t nameSize = std::strlen(record.FileName) + 1;
        char *name = names_.Bytes + names_.Used;
        std::memcpy(name, record.FileName, nameSize);
        names_.Used += nameSize;
        table.Records[i] = {record.Checksum, record.Size, uint32_t(cursor), name, false};
        cursor += record.Size;
    }
    // A writer may pad a package, but not by more than one transfer piece.
    if (size - cursor > kTrailingRoom) {
        os_.Files().Close(in);
        Print("\nThe package is damaged: ");
        PrintNumber(uint32_t(size - cursor));
        Print(" bytes follow its last file. Exit the Flash!");
        return Finish(step.ExitCode, Cleanup::Everything);
    }
    table.Count = count;
    return 0;
}

// A name is written only when DOS keeps it as it stands and it can be
// nothing but an ordinary file of this folder that no other part of the
// run uses: not a device, not the package itself, not a work file.
int DosUpdater::CheckRecordName(DosFile in, const PackageStep &step, const char *name) {
    const size_t length = std::strlen(name);
    if (!IsBareName(name, length)) return RefusePackage(in, step, PackageError::NameNotBare);
    const char *why = nullptr;
    if (IsDosWorkFileName(name)) why = "\nThe package holds a file named like a work file of this program: ";
    else if (!IsDosShortName(name, length))
        why = "\nThe package holds a file whose name DOS cannot create as it stands (8.3 letters, digits and "
              "!#$%&'()-@^_`{}~ only): ";
    else if (IsDosDeviceName(name, length)) why = "\nThe package holds a file named like a DOS device: ";
    else if (SameDosFile(name, ownName_))
        why = "\nThe package holds a file named like this program's own file: ";
    if (!why) return 0;
    os_.Files().Close(in);
    return Refuse(step.ExitCode, why, name, ". Exit the Flash!");
}

int DosUpdater::RefusePackage(DosFile in, const PackageStep &step, PackageError e) {
    if (in != kNoFile) os_.Files().Close(in);
    Print("\nThe package is damaged: ");
    Print(PackageErrorText(e));
    Print(". Exit the Flash!");
    return Finish(step.ExitCode, Cleanup::Everything);
}

// Every package is known: the tools the run will start, the names against
// each other and against the folder, then the files.
int DosUpdater::PlaceUnpackedFiles() {
    if (int r = CheckTools()) return r;
    if (int r = RefuseSameFiles()) return r;
    if (int r = CheckLeftovers()) return r;
    FileTable *tables[] = {&fiA_, &fiB_, &fiC_};
    for (FileTable *table : tables)
        if (int r = WritePackageFiles(*table)) return r;
    return 0;
}

// Two records that DOS would keep as one file: the second would overwrite
// the first (an image written over a tool, then run as that tool).
int DosUpdater::RefuseSameFiles() {
    const FileTable *tables[] = {&fiA_, &fiB_, &fiC_};
    for (size_t t = 0; t < 3; ++t)
        for (uint32_t i = 0; i < tables[t]->Count; ++i)
            for (size_t u = 0; u <= t; ++u)
                for (uint32_t j = 0; j < (u == t ? i : tables[u]->Count); ++j) {
                    const char *a = tables[u]->Records[j].FileName, *b = tables[t]->Records[i].FileName;
                    if (!SameDosFile(a, b)) continue;
                    Print("\nThe package holds two files that DOS would keep as one: ");
                    Print(a);
                    return Refuse(tables[t]->Step->ExitCode, " and ", b, ". Exit the Flash!");
                }
    return 0;
}

// A file already in the folder under a packaged name: the same bytes as the
// package's (a leftover of an earlier run) or a file of someone else's.
DosUpdater::Leftover DosUpdater::CompareLeftover(DosFile source, const UnpackedFile &record) {
    if (!FileExists(record.FileName)) return Leftover::None;
    DosFiles &files = os_.Files();
    DosFile there = files.OpenForReading(record.FileName);
    uint32_t length = 0;
    bool same = there != kNoFile && files.Length(there, length) && length == record.Size &&
                files.Seek(source, record.Offset);
    constexpr size_t kHalf = kWorkSize / 2;
    for (uint32_t done = 0; same && done < record.Size;) {
        const uint32_t left = record.Size - done;
        const size_t n = left < kHalf ? left : kHalf;
        same = files.Read(there, work_, n) == n && files.Read(source, work_ + kHalf, n) == n &&
               std::memcmp(work_, work_ + kHalf, n) == 0;
        done += uint32_t(n);
    }
    if (there != kNoFile) files.Close(there);
    return same ? Leftover::Same : Leftover::Differs;
}

// Nothing this run did not make is overwritten or removed: a file in the
// way stops the run before anything is written.
int DosUpdater::CheckLeftovers() {
    FileTable *tables[] = {&fiA_, &fiB_, &fiC_};
    for (FileTable *table : tables) {
        if (table->Count == 0) continue;
        DosFile source = os_.Files().OpenForReading(table->Source);
        for (uint32_t i = 0; i < table->Count; ++i) {
            UnpackedFile &record = table->Records[i];
            const Leftover found = CompareLeftover(source, record);
            record.Reused = found == Leftover::Same;
            if (found != Leftover::Differs) continue;
            if (source != kNoFile) os_.Files().Close(source);
            return Refuse(table->Step->ExitCode, "\nA file named ", record.FileName,
                          " is already here and differs from the packaged one. Exit the Flash!");
        }
        if (source != kNoFile) os_.Files().Close(source);
    }
    return 0;
}

int DosUpdater::WritePackageFiles(FileTable &table) {
    if (table.Source == nullptr) return 0;
    DosFiles &files = os_.Files();
    DosFile in = files.OpenForReading(table.Source);
    for (uint32_t i = 0; i < table.Count; ++i) {
        if (table.Records[i].Reused) continue;
        int r = StopIfAsked();
        if (r == 0) r = WriteFile(in, table.Records[i], *table.Step);
        if (r != 0) {
            if (in != kNoFile) files.Close(in);
            return r;
        }
    }
    if (in != kNoFile) files.Close(in);
    RemoveFile(table.Source);
    return 0;
}

int DosUpdater::WriteFile(DosFile in, UnpackedFile &record, const PackageStep &step) {
    DosFiles &files = os_.Files();
    DosFile out = files.CreateForWriting(record.FileName);
    if (out == kNoFile) return FailToWrite(record.FileName, step);
    record.Created = true;
    CopyResult copied = in != kNoFile && files.Seek(in, record.Offset) ? CopyBytes(in, out, record.Size)
                                                                        : CopyResult::ReadShort;
    if (!files.Close(out) && copied == CopyResult::Done) copied = CopyResult::WriteFailed;
    if (copied == CopyResult::Stopped) return StopIfAsked();
    if (copied != CopyResult::Done) return FailToWrite(record.FileName, step);
    if (step.Tools) os_.MakeRunnable(record.FileName);
    return 0;
}

}  // namespace fwpack
