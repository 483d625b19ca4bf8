// The order of a DOS updater run and the steps that are neither unpacking
// nor flashing: the switches, the filler, the identity and version checks,
// the questions, the cleanup and the restart.
#include "dos/dos_updater.h"

#include <cstring>

#include "dos/bios_version.h"
#include "dos/updater_run.h"
#include "dos/work_files.h"

namespace fwpack {

namespace {

constexpr int kWasteWrites = 150;
constexpr unsigned kBeepHertz = 500, kBeepMilliseconds = 100;

// Zeros from the start: no constructor has to run before main.
constinit RunMemory gRunMemory;

// The file name at the end of the path the program was started by.
const char *BaseName(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return name;
}

}  // namespace

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
    // Plain values and pointers: zero is every table's empty state.
    std::memset(static_cast<void *>(memory.Tables), 0, sizeof memory.Tables);
    names_.Used = 0;
}

void DosUpdater::Print(const char *text) { os_.Write(text, std::strlen(text)); }

void DosUpdater::PrintNumber(uint32_t value) {
    FixedText<kNumberTextRoom> text;
    Print(text.AppendNumber(value).View());
}

void DosUpdater::PrintMeVersion(const MeVersion &version) {
    FixedText<kMeVersionTextRoom> text;
    MeVersionText(version, text);
    Print(text.View());
}

int DosUpdater::Finish(int code, Cleanup cleanup) {
    for (size_t i = 0; i < scratchCount_; ++i) RemoveFile(scratch_[i]);
    scratchCount_ = 0;
    if (cleanup == Cleanup::Everything) DeleteFiles(1);
    else RemoveFile(kWasteFile);
    return code;
}

int DosUpdater::Refuse(int exitCode, TextView what, TextView name, TextView why) {
    Print(what);
    Print(name);
    Print(why);
    return Finish(exitCode, Cleanup::Everything);
}

// Removes what the packages unpacked, and the filler and ME tool output:
// only files this run made, so a file that was there before stays. The
// names come from the package, so they are removed directly and never
// handed to the command interpreter.
int DosUpdater::DeleteFiles(int mode) {
    if (mode != 1) return 1;
    const FileTable *tables[] = {&fiA_, &fiB_, &fiC_};
    for (const FileTable *table : tables)
        for (uint32_t i = 0; i < table->Count; ++i)
            if (table->Records[i].Created) RemoveFile(table->Records[i].FileName);
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

int DosUpdater::MakeWasteFile() {
    switch (WriteWasteFile()) {
    case WasteResult::Written: return 0;
    case WasteResult::NoMemory:
        Print("\nNot enough memory for the ");
        PrintNumber(kTransferSize);
        Print("-byte transfer buffer.");
        break;
    case WasteResult::OpenFailed: Print("\nfail to open waste.dat"); break;
    case WasteResult::WriteFailed:
        Print("\nfail to write waste.dat");
        if (os_.Files().DiskFull()) Print(": the disk is full");
        break;
    }
    return dos_exit::WasteFile;
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

// System names are compared whole: two names that differ only after the
// record's 20 characters are different systems.
int DosUpdater::CheckSystemName(TextView machineText) {
    constexpr int kSystemField = 6;
    const TextView machine = IdTextField(machineText, kSystemField);
    const TextView package = IdTextField(TextView(option_.IdString), kSystemField);
    if (sw_.ForceType || machine == package) return 0;
    Print("\nThe Current System:");
    Print(machine);
    Print("\nThe File System:");
    Print(package);
    Print("\nThe System Different. Exit the Flash!");
    return Finish(dos_exit::SystemDiffers, Cleanup::Everything);
}

int DosUpdater::CheckIdentity() {
    {
        // The firmware is searched through the work buffer, free again here.
        FixedText<kBiosInfoRoom> block;
        GetBiosInfo(os_, work_, kWorkSize, block);
        FixedText<kMachineIdRoom> machine;
        biosInfoToString(block.View(), machine);
        strToStruct(machine.View(), machineId_);
        if (int r = CheckSystemName(machine.View())) return r;
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
// so does anything else that is not a key. Keys pressed before the question
// was shown do not answer it.
DosUpdater::Answer DosUpdater::Ask() {
    os_.DiscardTypeAhead();
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

int DosUpdater::AskToUpdate() {
    if (sw_.NoPause || sw_.Factory) return 0;
    Print("\nUpdate BIOS(Yes/No)?");
    switch (Ask()) {
    case Answer::Yes: return 0;
    case Answer::No: return Finish(dos_exit::UpdateDeclined, Cleanup::Everything);
    case Answer::Stop: break;
    }
    return StopIfAsked();
}

// A stop request (Ctrl-C, Ctrl-Break, a signal) ends the run before its
// next step, with the cleanup of a failure.
int DosUpdater::StopIfAsked() {
    int code = os_.StopRequest();
    return code != 0 ? Finish(code, Cleanup::Everything) : 0;
}

int DosUpdater::AskToRestart() {
    Print("\nRestart System(Yes/No)?");
    switch (Ask()) {
    case Answer::Yes: return 0;
    case Answer::No:
        return meSkipped_ ? dos_exit::RestartDeclinedMeSkipped : dos_exit::RestartDeclinedMeFlashed;
    case Answer::Stop: break;
    }
    return os_.StopRequest();   // the end's cleanup has run: it is all there is
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
        if (int r = AskToRestart()) return r;
    }
    // A break during the wait above never ends in a restart.
    if (int code = os_.StopRequest()) return code;
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
    ownName_ = argc > 0 ? BaseName(argv[0]) : "";
    Print("\nDON'T POWER OFF the system during the update process.");
    if (int r = MakeWasteFile()) return r;
    if (int r = StopIfAsked()) return r;
    if (int r = ScanOwnFile()) return r;
    if (int r = PlaceUnpackedFiles()) return r;
    if (int r = CheckImage(fiB_, option_.BiosImageName, kBiosCheck)) return r;
    ApplyOptionFlags();
    if (int r = CheckIdentity()) return r;
    if (int r = AskToUpdate()) return r;
    if (int r = StopIfAsked()) return r;
    if (int r = FlashBios()) return r;
    if (int r = StopIfAsked()) return r;
    if (int r = CheckImage(fiC_, option_.MeImageName, kMeCheck)) return r;
    if (int r = FlashMe()) return r;
    if (int r = StopIfAsked()) return r;
    return End();
}

int DosUpdaterMain(int argc, const char *const *argv, DosPlatform &platform) {
    DosUpdater run(platform, gRunMemory);
    return run.Run(argc, argv);
}

}  // namespace fwpack
