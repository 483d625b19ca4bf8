// The image checks and the tools: the BIOS flash program, the ME
// information tool and the ME update tool, each run only when it is a
// program this run unpacked from the DOS tool package.
#include <cstring>

#include "dos/updater_run.h"
#include "dos/work_files.h"
#include "payload/checksum16.h"
#include "payload/dos_names.h"

namespace fwpack {

namespace {

bool TooLong(const TextBuilder &command) { return command.Overrun() || command.Length() >= kDosCommandRoom; }

}  // namespace

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

// A name that leads elsewhere (a device that never ends, another folder)
// is not read.
int DosUpdater::RefuseImageName(const char *name, const ImageCheck &check) {
    const size_t length = std::strlen(name);
    const bool tooLong = length >= kDosImageNameRoom;
    if (!tooLong && (length == 0 || (IsBareName(name, length) && !IsDosDeviceName(name, length)))) return 0;
    Print("\nThe ");
    Print(check.Kind);
    if (tooLong) {
        Print(" bin file name is too long (at most ");
        PrintNumber(kDosImageNameMax);
        Print(" characters): ");
    } else {
        Print(" bin file name is not a plain file name: ");
    }
    Print(name);
    return Finish(check.OpenExit, Cleanup::WasteOnly);
}

// The image is one of the files just unpacked here (a file of the same name
// that no record describes is not the package's, and is not read): its
// checksum must match its record's, compared as 16-bit values. Equal values, and not
// merely equal magnitudes of the values read as signed numbers: an image
// whose sum is the negation of the recorded one (0xFFFF against 0x0001) is
// damaged, and the builder records the sum itself.
int DosUpdater::CheckImage(const FileTable &table, const char *name, const ImageCheck &check) {
    const UnpackedFile *record = FindImage(table, name);
    Print(check.Begin);
    if (int r = RefuseImageName(name, check)) return r;
    uint16_t sum = 0;
    if (!record || !SumFile(name, sum)) {
        Print("\nFail to open ");
        Print(check.Kind);
        Print(" bin file, can't get checksum");
        return Finish(check.OpenExit, Cleanup::WasteOnly);
    }
    if (sum != uint16_t(record->Checksum)) {
        Print("\nThe ");
        Print(check.Kind);
        Print(" bin file has destroyed, checksum error");
        return Finish(check.ChecksumExit, Cleanup::Everything);
    }
    return 0;
}

// Only programs (as the platform names them: .COM, .EXE, .BAT on DOS;
// .EFI, .NSH in the UEFI shell) of the DOS tool package are started,
// named exactly as their records: no path, no redirection, nothing a
// command interpreter would read as more than a file name. A package built
// without DOS tools (a Windows-only one started from DOS) ends here, before
// its BIOS image could be started as a program.
int DosUpdater::CheckTools() {
    if (fiA_.Count == 0 || option_.DosFlashProgram[0] == '\0') {
        Print("\nThe package holds no DOS flash tools. Exit the Flash!");
        return Finish(dos_exit::ToolOrBiosPackage, Cleanup::Everything);
    }
    if (int r = CheckTool(option_.DosFlashProgram, "flash program")) return r;
    if (int r = CheckTool(option_.DosMeQueryTool, "ME information tool")) return r;
    return CheckTool(option_.DosMeUpdateTool, "ME update tool");
}

int DosUpdater::CheckTool(const char *name, const char *what) {
    if (name[0] == '\0') return Refuse(dos_exit::ToolOrBiosPackage, "\nThe package names no DOS ", what, ". Exit the Flash!");
    if (FindImage(fiA_, name) && os_.IsProgramName(name)) return 0;
    Print("\nThe DOS ");
    Print(what);
    return Refuse(dos_exit::ToolOrBiosPackage, " is not a program among the package's DOS tools: ", name,
                  ". Exit the Flash!");
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

// A flash program that did not end normally (a break, a critical-error
// abort, staying resident) has failed, whatever its exit code.
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

// What the information tool found is in the log, or nowhere: a tool that
// did not end normally leaves no log worth reading.
int DosUpdater::ReadCurrentMeVersion(MeVersion &current) {
    RemoveFile(kErrorLog);
    RemoveFile(kMeLog);
    FixedText<kDosCommandTextRoom> command;
    command.Append(option_.DosMeQueryTool).Append(" > ").Append(kMeLog);
    if (TooLong(command)) return RefuseLongCommand("ME information", command, dos_exit::CurrentMeVersion);
    if (os_.RunCommand(command.CStr()) == kCommandAborted) RemoveFile(kMeLog);
    if (!FileExists(kMeLog)) return 0;
    if (!GetCurMEVersion(kMeLog, current, os_.Files(), os_)) {
        Print("\nCan not get current ME version from log!");
        return Finish(dos_exit::CurrentMeVersion, Cleanup::Everything);
    }
    Print("\nCurrent ME version: ");
    PrintMeVersion(current);
    return 0;
}

int DosUpdater::FlashMe() {
    MeVersion current{};
    if (int r = ReadCurrentMeVersion(current)) return r;
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
    if (int r = StopIfAsked()) return r;
    return RunMeUpdate();
}

// The tool reports failure through error.log; one that did not end
// normally has failed too.
int DosUpdater::RunMeUpdate() {
    FixedText<kDosCommandTextRoom> command;
    command.Append(option_.DosMeUpdateTool).Append(" -F").Append(" ").Append(option_.MeImageName);
    if (TooLong(command)) return RefuseLongCommand("ME update", command, dos_exit::MeFlashFailed);
    RemoveFile(kErrorLog);
    Print("\n");
    Print(command.View());
    const bool aborted = os_.RunCommand(command.CStr()) == kCommandAborted;
    if (aborted || FileExists(kErrorLog)) {
        Print("Flash ME fail");
        return Finish(dos_exit::MeFlashFailed, Cleanup::Everything);
    }
    RemoveFile(kErrorLog);
    return 0;
}

}  // namespace fwpack
