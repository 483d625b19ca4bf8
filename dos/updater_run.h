// The DOS updater run's state and steps, shared by the files that hold the
// steps: dos_updater_run.cpp (the order of the steps, the questions, the
// end), unpack_packages.cpp (the tag scan and the unpacking) and
// flash_steps.cpp (the image checks and the tools). Internal to dos/.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dos/bios_id.h"
#include "dos/dos_updater.h"
#include "dos/dos_switches.h"
#include "dos/me_version.h"
#include "dos/option_texts.h"
#include "dos/text.h"
#include "dos/unzip.h"
#include "payload/dos_limits.h"
#include "payload/package_rules.h"
#include "platform/dos_platform.h"

namespace fwpack {

class TagScanner;

inline constexpr size_t kTransferSize = kDosTransferSize;
inline constexpr size_t kWorkSize = kDosWorkSize;
static_assert(kWorkSize >= kUnzipWorkMin, "the work buffer holds the decompressor");

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

// How an unpacked image is checked, and what the check says.
struct ImageCheck {
    const char *Begin;
    const char *Kind;  // "BIOS" or "ME" in the messages
    int OpenExit, ChecksumExit;
};

inline constexpr ImageCheck kBiosCheck{"\nBegin to check bin file.", "BIOS", dos_exit::BiosImageOpen,
                                       dos_exit::BiosChecksum};
inline constexpr ImageCheck kMeCheck{"\nBegin to check ME bin file.", "ME", dos_exit::MeImageOpen,
                                     dos_exit::MeChecksum};

enum class Cleanup { WasteOnly, Everything };

// What the run keeps of a packaged file: its name lives in the name pool.
struct UnpackedFile {
    uint32_t Checksum = 0;
    uint32_t Size = 0;
    uint32_t Offset = 0;        // where its bytes lie in the unpacked package
    const char *FileName = nullptr;
    // This run made the file, so the cleanup may remove it. A file that was
    // there before is never removed, not even a byte-identical one.
    bool Created = false;
    // A byte-identical file was there already: it is used as it is.
    bool Reused = false;
};

// What one package holds: at most five records, and the unpacked package
// (a scratch file) they are copied out of once every package is known.
struct FileTable {
    UnpackedFile Records[kDosRecordTableRoom];
    uint32_t Count = 0;
    const char *Source = nullptr;
    const PackageStep *Step = nullptr;
};

// The names of every file unpacked, each with its NUL, one after another.
struct NamePool {
    char Bytes[kDosFileNamesRoom] = {};
    size_t Used = 0;
};

// The scratch files of a run: each step's body and its decompressed form.
inline constexpr size_t kScratchRoom = 6;

// Everything a run keeps besides the platform and its transfer buffer, in
// static storage, so that a DOS stack stays small. One run at a time uses it.
struct RunMemory {
    alignas(16) uint8_t Work[kWorkSize] = {};
    DosOptions Options = {};
    // fiA, fiB, fiC: what each package unpacked.
    FileTable Tables[3];
    NamePool Names;
};

class DosUpdater {
  public:
    DosUpdater(DosPlatform &os, RunMemory &memory);
    int Run(int argc, const char *const *argv);

  private:
    // Output and files (dos_updater_run.cpp).
    void Print(TextView text) { os_.Write(text.Data, text.Length); }
    // Out of line: the many fixed texts then cost a call each in DOS's one
    // 64 KiB code segment.
    void Print(const char *text);
    void PrintNumber(uint32_t value);
    void PrintMeVersion(const MeVersion &version);
    bool FileExists(const char *path) { return os_.Files().Exists(path); }
    void RemoveFile(const char *path) { os_.Files().Remove(path); }
    int Finish(int code, Cleanup cleanup);
    int DeleteFiles(int mode);
    // One line for a step that stops the run, then that step's cleanup.
    int Refuse(int exitCode, TextView what, TextView name, TextView why);

    // The run's steps before the unpacking and after it (dos_updater_run.cpp).
    enum class WasteResult { Written, NoMemory, OpenFailed, WriteFailed };
    WasteResult WriteWasteFile();
    int MakeWasteFile();
    void ApplyOptionFlags();
    int CheckSystemName(TextView machineText);
    int CheckIdentity();
    enum class Answer { Yes, No, Stop };
    Answer Ask();
    int AskToUpdate();
    int StopIfAsked();
    int End();
    int AskToRestart();

    // The tag scan and the unpacking (unpack_packages.cpp).
    int ScanOwnFile();
    int HandleResource(DosFile self, uint32_t at, uint16_t id, uint32_t &bodyLength);
    static const PackageStep &StepOf(uint16_t id);
    FileTable &TableOf(uint16_t id);
    int RefuseSecondResource(uint16_t id, uint32_t at);
    int FailToWrite(const char *name, const PackageStep &step);
    void ReadOptionBlock(DosFile self, uint32_t at);
    int UnpackPackage(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step,
                      FileTable &table);
    int CopyBodyToScratch(DosFile self, uint32_t at, uint32_t bodyLength, const PackageStep &step);
    int Decompress(const PackageStep &step);
    enum class CopyResult { Done, ReadShort, WriteFailed, Stopped };
    CopyResult CopyBytes(DosFile in, DosFile out, uint32_t length);
    int ReadPackageRecords(const char *path, const PackageStep &step, FileTable &table);
    int ReadRecordTable(DosFile in, uint64_t size, const PackageStep &step, uint32_t &count);
    int TakeRecords(DosFile in, uint64_t size, uint32_t count, const PackageStep &step,
                    FileTable &table);
    int CheckRecordName(DosFile in, const PackageStep &step, const char *name);
    int RefusePackage(DosFile in, const PackageStep &step, PackageError e);
    int PlaceUnpackedFiles();
    int RefuseSameFiles();
    enum class Leftover { None, Same, Differs };
    Leftover CompareLeftover(DosFile source, const UnpackedFile &record);
    int CheckLeftovers();
    int WritePackageFiles(FileTable &table);
    int WriteFile(DosFile in, UnpackedFile &record, const PackageStep &step);

    // The images and the tools (flash_steps.cpp).
    bool SumFile(const char *path, uint16_t &sum);
    static const UnpackedFile *FindImage(const FileTable &table, const char *name);
    int RefuseImageName(const char *name, const ImageCheck &check);
    int CheckImage(const FileTable &table, const char *name, const ImageCheck &check);
    int CheckTools();
    int CheckTool(const char *name, const char *what);
    int RefuseLongCommand(const char *what, const TextBuilder &command, int exitCode);
    int FlashBios();
    int ReadCurrentMeVersion(MeVersion &current);
    int FlashMe();
    int RunMeUpdate();

    DosPlatform &os_;
    DosSwitches sw_;
    bool deleteAtEnd_ = false, restartN_ = false, restartR_ = false, keepAll_ = false,
         keepK0_ = false, keepK1_ = false, keepK2_ = false;
    DosOptions &option_;
    BiosIdRecord packageId_, machineId_;
    FileTable &fiA_, &fiB_, &fiC_;
    NamePool &names_;
    DosTransferBuffer &transfer_;   // bulk copies between files
    uint8_t *const work_;           // everything the logic reads itself
    const char *ownName_ = "";                  // the package's own file name
    const char *scratch_[kScratchRoom] = {};   // scratch files this run created
    size_t scratchCount_ = 0;
    bool meSkipped_ = false;
};

}  // namespace fwpack
