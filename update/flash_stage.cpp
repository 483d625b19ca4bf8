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
#include "update/extract_image.h"

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

std::string Hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%X", unsigned(value));
    return text;
}

const char *WaitText(uint32_t result) {
    switch (result) {
        case wait_result::Object0: return "WaitForSingleObject:WAIT_OBJECT_0";
        case wait_result::Abandoned: return "WaitForSingleObject:WAIT_ABANDONED";
        case wait_result::Timeout: return "WaitForSingleObject:WAIT_TIMEOUT";
        default: return "WaitForSingleObject:Unknow";
    }
}

// One run of a stage. A failure leaves it one of two ways, which differ in
// what they put back: before the stage has entered the DestinationFolder
// only the box is shown (FailBeforeEntering); once it has, the working
// directory is put back first, so that the cleanup can remove the folder,
// and an image found missing or wanting is deleted at once, while one that
// passed its checks is left to the rollback (FailInside).
class StageRun {
  public:
    StageRun(WorkerContext &context, WorkerRunState &state, FlashStage stage)
        : context_(context),
          files_(context.Files),
          run_(context.Run),
          state_(state),
          row_(RowFor(context.Run.OptionCopy, stage)),
          dest_(context.Run.DestinationFolder),
          // The folder already ends with the separator; the doubled one is
          // read as one.
          imagePath_(dest_ + files_.Separator() + std::string(row_.ImageName)),
          imageName_(row_.ImageName),
          program_(dest_ + std::string(row_.ProgramName)) {}

    StageEnd Run() {
        // A cancel that came before the stage: nothing is written or started.
        if (run_.AbortRequested()) return StageEnd::Aborted;
        // The image is written, and deleted again, inside the
        // DestinationFolder only: a name that leads elsewhere is refused
        // like a missing image.
        if (!IsBareFileName(row_.ImageName) || imagePath_.size() >= kPathBufferSize)
            return FailBeforeEntering(row_.MissingImage);
        std::optional<uint32_t> stored = ExtractImage(context_, row_.Package, imagePath_);
        if (stored) state_.ImagesWritten.emplace_back(row_.ImageName);

        // The stage works in the DestinationFolder and puts the working
        // directory back afterwards. One that cannot be read is no failure
        // of the stage: it is then left as it is, and the image is named by
        // its full path instead.
        saved_ = files_.WorkingDirectory();
        if (saved_) files_.SetWorkingDirectory(dest_);
        const std::string &image = saved_ ? imageName_ : imagePath_;

        if (!files_.Exists(image)) return FailInside(row_.MissingImage, Image::Delete);
        const uint16_t computed = Checksum16(files_, image);
        run_.Log.Line("image " + InQuotes(imageName_) + ": checksum stored " +
                      Hex(stored.value_or(0)) + ", computed " + Hex(computed));
        if (stored.value_or(0) != uint32_t(computed))
            return FailInside(row_.ChecksumFailed, Image::Delete);
        std::string commandLine = CommandLine();
        // The command line keeps the 260-byte limit of its buffer.
        if (commandLine.size() >= kPathBufferSize)
            return FailInside(row_.StartFailed, Image::KeepForRollback);
        return StartProgram(commandLine);
    }

  private:
    enum class Image { Delete, KeepForRollback };

    WorkerContext &context_;
    FileSystem &files_;
    RunState &run_;
    WorkerRunState &state_;
    const StageRow row_;
    const std::string &dest_;
    const std::string imagePath_, imageName_, program_;
    std::optional<std::string> saved_;   // the working directory to go back to

    StageEnd FailBeforeEntering(const char *text) {
        ShowErrorBox(context_.Boxes, run_.WindowTitle, text);
        return StageEnd::Failed;
    }

    void PutWorkingDirectoryBack() {
        if (saved_) files_.SetWorkingDirectory(*saved_);
    }

    StageEnd FailInside(const char *text, Image image) {
        PutWorkingDirectoryBack();
        ShowErrorBox(context_.Boxes, run_.WindowTitle, text);
        if (image == Image::Delete) files_.RemoveFile(imagePath_);
        return StageEnd::Failed;
    }

    void LogProgramEnd(const StartedProcess &process, uint32_t waited) {
        if (!run_.Log.On()) return;
        std::optional<uint32_t> code = context_.Programs.ExitCode(process);
        run_.Log.Line("program ended: exit code " +
                      (code ? std::to_string(*code) : std::string("unknown")) + ", wait result " +
                      Hex(waited));
    }

    std::string CommandLine() {
        std::string commandLine = program_ + " " + dest_ + imageName_;
        if (!row_.SendsIdAndOptions) return commandLine;
        std::string_view id = run_.OptionCopy.IdString();
        if (!id.empty()) commandLine += " /id:" + std::string(id);
        PackOptionWord(run_.Options);
        char word[9];
        std::snprintf(word, sizeof word, "%08X", unsigned(run_.Options.OptionWord));
        return commandLine + " /option:" + word;
    }

    StageEnd StartProgram(const std::string &commandLine) {
        context_.Dialog.HideWindow();
        // The program's full path goes as the application name, so an
        // unquoted folder with spaces cannot start a shorter path's program.
        // A name given without its ".exe" gets it, as the command line
        // alone would have.
        std::string application = program_;
        if (!files_.Exists(application) && files_.Exists(application + ".exe"))
            application += ".exe";
        // The last look at a cancel: the dialog stopped waiting for this
        // worker when the unpacking completed, so a program started now
        // would run with nobody to read its verdict. The window is hidden
        // by now, so the user has no way left to cancel after this point.
        if (run_.AbortRequested()) {
            PutWorkingDirectoryBack();
            return StageEnd::Aborted;
        }
        std::optional<StartedProcess> process =
            context_.Programs.Start(application, commandLine, dest_);
        if (!process) {
            run_.Log.Line("program could not be started: " + commandLine);
            return FailInside(row_.StartFailed, Image::KeepForRollback);
        }
        state_.Launched = 1;
        if (row_.Package == MePackage) state_.MeLaunched = true;
        run_.Log.Line("program started: " + commandLine + " (program file " + application +
                      ", working folder " + dest_ + ")");
        // Ending the process while the program runs cuts nothing short: the
        // dialog need not wait for this.
        run_.Phase.store(WorkerPhase::InFlashProgram);
        uint32_t waited = context_.Programs.Wait(*process);
        run_.Phase.store(WorkerPhase::Working);
        LogProgramEnd(*process, waited);
        if (run_.Options.DebugBoxes)
            context_.Boxes.Show(WaitText(waited), run_.WindowTitle, BoxIcon::Error,
                                BoxButtons::Ok);
        state_.*row_.Status = ReadResultValue(context_.Results, kResultKey, row_.StatusValue);
        state_.*row_.Restart = ReadResultValue(context_.Results, kResultKey, row_.RestartValue);
        run_.Log.Line(std::string("verdict: ") + row_.StatusValue + " = " +
                      std::to_string(state_.*row_.Status) + ", " + row_.RestartValue + " = " +
                      std::to_string(state_.*row_.Restart) + " (-1: not readable)");
        PutWorkingDirectoryBack();
        context_.Programs.Close(*process);
        return StageEnd::Completed;
    }
};

}  // namespace

StageEnd RunFlashStage(WorkerContext &context, WorkerRunState &state, FlashStage stage) {
    return StageRun(context, state, stage).Run();
}

int32_t ReadResultValue(ResultValues &results, std::string_view subkey,
                        std::string_view value) {
    return results.ReadUserValue(subkey, value).value_or(-1);
}

}  // namespace fwpack
