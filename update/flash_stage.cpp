// RunFlashStage: one image out of the resources, its checksum, the flash
// program in the DestinationFolder, and its verdict.
#include "update/flash_stage.h"

#include <cstdio>
#include <optional>
#include <string>

#include "payload/file_package.h"
#include "payload/tagged_resource.h"
#include "run/error_box.h"
#include "run/run_options.h"
#include "update/extract_image_detail.h"

namespace fwpack {

namespace {

struct StageRow {
    uint16_t Package;
    std::string_view ImageName, ProgramName;
    bool SendsIdAndOptions;
    const char *MissingImage, *ChecksumFailed, *StartFailed;
    const char *StatusValue, *RestartValue;
    int32_t WorkerRunState::*Status;
    int32_t WorkerRunState::*Restart;
};

StageRow RowFor(const ProgramOptionCopy &o, FlashStage stage) {
    if (stage == FlashStage::Bios)
        return {BiosPackage,
                o.BiosImageName(),
                o.FlashProgram(),
                true,
                "Bin file not found, BIOS flash aborted!",
                "Bin Checksum failed, BIOS flash aborted!",
                "Fail to launch program, process aborted!",
                "RtnStatus",
                "RtnReboot",
                &WorkerRunState::RtnStatus,
                &WorkerRunState::RtnReboot};
    return {MePackage,
            o.MeImageName(),
            o.MeFlashProgram(),
            false,
            "Bin file not found, ME flash aborted!",
            "Bin Checksum failed, ME flash aborted!",
            "Fail to launch flash ME program, process aborted!",
            "MERtnStatus",
            "MERtnReboot",
            &WorkerRunState::MERtnStatus,
            &WorkerRunState::MERtnReboot};
}

const char *WaitText(uint32_t result) {
    switch (result) {
        case wait_result::Object0: return "WaitForSingleObject:WAIT_OBJECT_0";
        case wait_result::Abandoned: return "WaitForSingleObject:WAIT_ABANDONED";
        case wait_result::Timeout: return "WaitForSingleObject:WAIT_TIMEOUT";
        default: return "WaitForSingleObject:Unknow";
    }
}

}  // namespace

StageEnd RunFlashStage(WorkerContext &c, WorkerRunState &state, FlashStage stage) {
    FileSystem &files = c.Files;
    RunState &run = c.Run;
    const StageRow row = RowFor(run.OptionCopy, stage);
    const std::string &dest = run.DestinationFolder;
    auto fail = [&](const char *text) {
        ShowErrorBox(c.Boxes, run.WindowTitle, text);
        return StageEnd::Failed;
    };

    // The folder already ends with the separator; the doubled one is read
    // as one.
    std::string imagePath = dest + files.Separator() + std::string(row.ImageName);
    // The image is written, and deleted again, inside the DestinationFolder
    // only: a name that leads elsewhere is refused like a missing image.
    if (!IsBareFileName(row.ImageName) || imagePath.size() >= kPathBufferSize)
        return fail(row.MissingImage);
    std::optional<uint32_t> stored = ExtractImageChecked(c, row.Package, imagePath);
    if (stored) state.ImagesWritten.emplace_back(row.ImageName);

    // The working directory is put back on every way out, so that the
    // cleanup can remove the DestinationFolder.
    std::optional<std::string> saved = files.WorkingDirectory();
    if (!saved) {
        files.RemoveFile(imagePath);
        return fail(row.StartFailed);
    }
    files.SetWorkingDirectory(dest);
    auto failHere = [&](const char *text, bool dropImage) {
        files.SetWorkingDirectory(*saved);
        ShowErrorBox(c.Boxes, run.WindowTitle, text);
        if (dropImage) files.RemoveFile(imagePath);
        return StageEnd::Failed;
    };

    // The bare name is resolved in the DestinationFolder.
    std::string imageName(row.ImageName);
    if (!files.Exists(imageName)) return failHere(row.MissingImage, true);
    if (stored.value_or(0) != uint32_t(Checksum16(files, imageName)))
        return failHere(row.ChecksumFailed, true);

    std::string program = dest + std::string(row.ProgramName);
    std::string commandLine = program + " " + dest + imageName;
    if (row.SendsIdAndOptions) {
        std::string_view id = run.OptionCopy.IdString();
        if (!id.empty()) commandLine += " /id:" + std::string(id);
        PackOptionWord(run.Options);
        char word[9];
        std::snprintf(word, sizeof word, "%08X", unsigned(run.Options.OptionWord));
        commandLine += " /option:";
        commandLine += word;
    }
    // The command line keeps the 260-byte limit of its buffer.
    if (commandLine.size() >= kPathBufferSize) return failHere(row.StartFailed, false);

    c.Dialog.HideWindow();
    // The program's full path goes as the application name, so an unquoted
    // folder with spaces cannot start a shorter path's program. A name given
    // without its ".exe" gets it, as the command line alone would have.
    std::string application = program;
    if (!files.Exists(application) && files.Exists(application + ".exe")) application += ".exe";
    // The last look at a cancel: the dialog stopped waiting for this worker
    // when the unpacking completed, so a program started now would run with
    // nobody to read its verdict. The window is hidden by now, so the user
    // has no way left to cancel after this point.
    if (run.AbortRequested()) {
        files.SetWorkingDirectory(*saved);
        return StageEnd::Aborted;
    }
    std::optional<StartedProcess> process = c.Programs.Start(application, commandLine, dest);
    if (!process) return failHere(row.StartFailed, false);
    state.Launched = 1;
    uint32_t waited = c.Programs.Wait(*process);
    if (run.Options.DebugBoxes)
        c.Boxes.Show(WaitText(waited), run.WindowTitle, BoxIcon::Error, BoxButtons::Ok);
    state.*row.Status = ReadResultValue(c.Results, kResultKey, row.StatusValue);
    state.*row.Restart = ReadResultValue(c.Results, kResultKey, row.RestartValue);
    files.SetWorkingDirectory(*saved);
    c.Programs.Close(*process);
    return StageEnd::Completed;
}

int32_t ReadResultValue(ResultValues &results, std::string_view subkey,
                        std::string_view value) {
    return results.ReadUserValue(subkey, value).value_or(-1);
}

}  // namespace fwpack
