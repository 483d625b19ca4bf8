// ExtractWorker: stages 0 to 7 inside one guard, then the rollback path (for
// failures once the record table exists) and the cleanup path that ends
// every run.
#include "update/extract_worker.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "payload/zlib_engine.h"
#include "run/dialog_updates.h"
#include "payload/checksum16.h"
#include "run/error_box.h"
#include "run/run_boxes.h"
#include "run/folder_tree.h"
#include "run/temp_names.h"
#include "update/decide_restart.h"
#include "update/flash_stage.h"

namespace fwpack {

namespace {

// Where the stages hand the run over.
enum class Exit { Cleanup, Rollback };

// n of count files as a whole percentage: divide first, then multiply, so
// 29 of 100 gives 28.
int32_t Percentage(uint32_t n, uint32_t count) {
    return int32_t(double(n) / double(count) * 100.0);
}

std::string PercentText(int32_t p) { return std::to_string(p) + "%"; }

class Worker {
  public:
    explicit Worker(WorkerContext &c) : context_(c), dialog_(c.Dialog), files_(c.Files) {}

    int Run() {
        Exit exit;
        try {
            exit = Stages();
        } catch (...) {
            // A fault shows no box of its own; CurrentIndex stays as it was.
            context_.Run.Log.Line("a fault ended the stages");
            ending_ = Ending::Failed;
            exit = Exit::Rollback;
        }
        if (exit == Exit::Rollback) Rollback();
        Cleanup();
        return 0;
    }

  private:
    WorkerContext &context_;
    DialogControls &dialog_;
    FileSystem &files_;
    WorkerRunState state_;
    std::vector<bool> nameUsable_;   // per record: a bare, terminated name
    uint64_t cursor_ = 0;            // where the next file's bytes start
    // How the stages ended: a stage that stops without having failed was
    // stopped by a cancel.
    enum class Ending { Running, Completed, Failed, Cancelled };
    Ending ending_ = Ending::Running;

    bool Aborted() const { return context_.Run.AbortRequested(); }
    void Fail(std::string_view text) {
        ending_ = Ending::Failed;
        ShowErrorBox(context_.Boxes, context_.Run.WindowTitle, text);
    }
    void Log(const std::string &line) { context_.Run.Log.Line(line); }

    // Runs one stage, logged as it starts and ends.
    template <class StageFn>
    bool Logged(const char *name, StageFn stage) {
        Log(std::string("stage ") + name + ": start");
        bool done = stage();
        if (!done && ending_ == Ending::Running) ending_ = Ending::Cancelled;
        Log(std::string("stage ") + name + ": " +
            (done ? "done" : ending_ == Ending::Failed ? "failed" : "cancelled"));
        return done;
    }
    // The bar and the percentage text together, and the status text.
    void Step(int32_t p) {
        SetProgress(dialog_, p);
        SetItemText(dialog_, control::Percentage, PercentText(p));
    }
    void Step(int32_t p, std::string_view status) {
        Step(p);
        SetItemText(dialog_, control::Status, status);
    }

    Exit Stages() {
        auto stage = [this](const char *name, bool (Worker::*fn)()) {
            return Logged(name, [this, fn] { return (this->*fn)(); });
        };
        if (!stage("0 (preparation)", &Worker::Prepare)) return Exit::Cleanup;
        if (!stage("1 (work folder)", &Worker::MakeWorkNames)) return Exit::Cleanup;
        if (!stage("2 (tool package)", &Worker::WriteCompressedPackage)) return Exit::Cleanup;
        if (!stage("3 (decompression)", &Worker::Decompress)) return Exit::Cleanup;
        if (!stage("4 (file table)", &Worker::LoadPackage)) return Exit::Cleanup;
        Exit e = Exit::Cleanup;
        if (!Logged("5 (unpacking)", [&] { return Unpack(e); })) return e;
        if (!Logged("6 (copying)", [&] { return Copy(e); })) return e;
        Log("stage 7 (completion and flash stages): start");
        Exit end = Complete();
        if (ending_ == Ending::Running) ending_ = Ending::Completed;
        Log(std::string("stage 7 (completion and flash stages): ") +
            (ending_ == Ending::Completed ? "done"
             : ending_ == Ending::Failed  ? "failed"
                                          : "cancelled"));
        return end;
    }

    // Stage 0: the input controls go for good; the bar runs 1 to 100.
    bool Prepare() {
        dialog_.EnableControl(control::Go, false);
        dialog_.EnableControl(control::Browse, false);
        dialog_.HideControl(control::Browse);
        dialog_.EnableControl(control::Destination, false);
        dialog_.HideControl(control::Destination);
        dialog_.HideControl(control::ExtractHere);
        dialog_.SetProgressRange(1, 100);
        dialog_.SetProgressPosition(0);
        dialog_.SetControlText(control::Percentage, "");
        dialog_.RepaintControl(control::Progress);
        SetItemText(dialog_, control::Status, "Preparing data file...");
        return !Aborted();
    }

    // Stage 1: the work folder and the two scratch names.
    bool MakeWorkNames() {
        Step(25);
        state_.TempRoot = files_.TempRoot();
        // A failed temp-name call must not leave the work folder path at the
        // temp root: that path is deleted as a tree.
        state_.WorkFolder = TempFolderName(files_, context_.Time, state_.TempRoot, "0$_$_");
        if (state_.WorkFolder.empty() || state_.TempRoot.size() + 8 >= kPathBufferSize) {
            state_.WorkFolder.clear();
            Fail("Fail to create temporary data file, extracting process aborted!");
            return false;
        }
        DeleteFolderTree(files_, state_.WorkFolder);
        files_.CreateFolder(state_.WorkFolder);   // a failure shows in stage 5
        state_.ScratchA = ScratchNameA(state_.TempRoot, context_.Time.TickCount());
        state_.ScratchB = ScratchNameB(state_.TempRoot, context_.Time.TickCount());
        files_.RemoveFile(state_.ScratchA);
        files_.RemoveFile(state_.ScratchB);
        return !Aborted();
    }

    // Stage 2: the tool package, a bare zlib stream, into scratch file A.
    bool WriteCompressedPackage() {
        Step(50, "Extracting file information...");
        std::span<const uint8_t> package = context_.Resources.SetupResource(ToolPackage);
        if (package.empty()) {
            Fail("Fail to extract the data, extracting process aborted!");
            return false;
        }
        // A short write is not tested here: it makes the decompression fail.
        if (!files_.WriteWholeFile(state_.ScratchA, package)) {
            Fail("Fail to create temporary data file, extracting process aborted!");
            return false;
        }
        return !Aborted();
    }

    // Stage 3: scratch file A decompressed into scratch file B.
    bool Decompress() {
        Step(75, "Decompress merge data file...");
        if (DecompressFile(state_.ScratchA.c_str(), state_.ScratchB.c_str()) != 0) {
            Fail("Fail to decompress the RADOZUDE data, extracting process aborted!");
            return false;
        }
        files_.RemoveFile(state_.ScratchA);
        Step(100, "");
        return !Aborted();
    }

    // Stage 4: the whole package into memory, and its record table. A table
    // that does not fit the package is refused here; everything a record
    // holds is checked when its file is written.
    bool LoadPackage() {
        Step(0, "Initialize file information...");
        if (!files_.ReadWholeFile(state_.ScratchB, state_.PackageBuffer)) {
            Fail("Fail to read temporary data file, updating extracting aborted!");
            return false;
        }
        if (state_.PackageBuffer.size() < kPackageHeaderSize) {
            Fail("No data in the decompressed data file, extracting process aborted!");
            return false;
        }
        ReadU32(state_.PackageBuffer.data(), state_.PackageBuffer.size(), 0, state_.FileCount);
        files_.RemoveFile(state_.ScratchB);
        if (state_.FileCount == 0) {
            Fail("No file require to extract, process aborted!");
            return false;
        }
        uint64_t tableEnd = kPackageHeaderSize + uint64_t(kFileRecordSize) * state_.FileCount;
        if (tableEnd > state_.PackageBuffer.size()) {
            Fail("Fail to read temporary data file, updating extracting aborted!");
            return false;
        }
        state_.RecordTable.resize(state_.FileCount);
        nameUsable_.assign(state_.FileCount, false);
        state_.Copied.assign(state_.FileCount, false);
        for (uint32_t i = 0; i < state_.FileCount; ++i) {
            const size_t at = kPackageHeaderSize + size_t(i) * kFileRecordSize;
            const std::vector<uint8_t> &package = state_.PackageBuffer;
            nameUsable_[i] = ReadFileRecord(package.data(), package.size(), at,
                                            state_.RecordTable[i]) == PackageError::None &&
                             IsBareFileName(state_.RecordTable[i].FileName);
        }
        state_.HaveRecordTable = true;
        SetItemText(dialog_, control::Status, "Extracting file information...");
        cursor_ = tableEnd;
        return true;
    }

    // Stage 5: each file into the work folder with its stored times.
    bool Unpack(Exit &exit) {
        exit = Exit::Rollback;
        for (state_.CurrentIndex = 0; state_.CurrentIndex < state_.FileCount;
             ++state_.CurrentIndex) {
            const FileRecord &r = state_.RecordTable[state_.CurrentIndex];
            std::string path = state_.WorkFolder + r.FileName;
            // A name that would leave the work folder, or not fit a path, is
            // never created.
            if (!nameUsable_[state_.CurrentIndex] || path.size() >= kPathBufferSize) {
                Fail("Fail to create data file, extracting process aborted!");
                return false;
            }
            bool inside = cursor_ + r.Size <= state_.PackageBuffer.size();
            std::span<const uint8_t> bytes;
            if (r.Size != 0 && inside) bytes = {state_.PackageBuffer.data() + cursor_, r.Size};
            FileTimes times{r.CreationTime, r.LastAccessTime, r.LastWriteTime};
            std::optional<size_t> written = files_.WriteWholeFile(path, bytes, &times);
            if (!written) {
                Fail("Fail to create data file, extracting process aborted!");
                return false;
            }
            if (r.Size == 0) {
                Fail("Invalid data file size, extracting process aborted!");
                return false;
            }
            // Bytes past the end of the package are never read: such a file
            // counts as a short write.
            if (!inside || *written != r.Size) {
                Fail("Writing data error, extracting process aborted!");
                return false;
            }
            LogUnpackedFile(r, bytes);
            cursor_ += r.Size;
            Step(Percentage(state_.CurrentIndex + 1, state_.FileCount));
            if (Aborted()) {
                exit = Exit::Cleanup;
                return false;
            }
        }
        return true;
    }

    void LogUnpackedFile(const FileRecord &r, std::span<const uint8_t> bytes) {
        if (!context_.Run.Log.On()) return;
        char sums[64];
        std::snprintf(sums, sizeof sums, "checksum stored 0x%X, computed 0x%X", unsigned(r.Checksum),
                      unsigned(Checksum16(bytes.data(), bytes.size())));
        Log("file unpacked: " + InQuotes(r.FileName) + ", size " + std::to_string(r.Size) + ", " +
            sums);
    }

    // Stage 6: each file into the DestinationFolder; the work copies go.
    bool Copy(Exit &exit) {
        exit = Exit::Rollback;
        Step(0, "");
        const std::string &dest = context_.Run.DestinationFolder;
        if (!dest.empty() && !files_.Exists(dest))
            state_.DestinationCreated = files_.CreateFolder(dest);
        state_.InDestination = true;
        for (state_.CurrentIndex = 0; state_.CurrentIndex < state_.FileCount;
             ++state_.CurrentIndex) {
            const FileRecord &r = state_.RecordTable[state_.CurrentIndex];
            Step(Percentage(state_.CurrentIndex + 1, state_.FileCount));
            // The status text is cut to its 260-byte buffer.
            std::string status = "Copying ...\\" + r.FileName;
            if (status.size() >= kPathBufferSize) status.resize(kPathBufferSize - 1);
            SetItemText(dialog_, control::Status, status);
            std::string source = state_.WorkFolder + r.FileName;
            std::string target = dest + r.FileName;
            // An empty destination (start-up could not name one) would be the
            // working directory: nothing is copied there.
            bool copied = !dest.empty() && target.size() < kPathBufferSize &&
                          files_.CopyFileOver(source, target);
            state_.Copied[state_.CurrentIndex] = copied;
            files_.RemoveFile(source);
            // A lost file is a failed run, not "Update completed.".
            if (!copied) {
                Fail("Fail to copy data file, extracting process aborted!");
                return false;
            }
            if (Aborted()) {
                exit = Exit::Cleanup;
                return false;
            }
        }
        files_.RemoveFolder(state_.WorkFolder);
        exit = Exit::Cleanup;
        if (Aborted()) return false;
        Step(50);
        if (Aborted()) return false;
        Step(100, "Update completed.");
        return true;
    }

    // Stage 7: the completion box and the flash stages.
    Exit Complete() {
        const ProgramOptionCopy &options = context_.Run.OptionCopy;
        bool bios = !options.FlashProgram().empty();
        bool me = !options.MeFlashProgram().empty();
        if (!bios || !me)
            context_.Boxes.Show("All files successfully extract to the specified folder.",
                          context_.Run.WindowTitle, BoxIcon::Information, BoxButtons::Ok);
        if (!bios) return Exit::Cleanup;
        StageEnd end = RunFlashStage(context_, state_, FlashStage::Bios);
        if (end == StageEnd::Completed && state_.RtnStatus == 1 && state_.RtnReboot == 1 && me)
            end = RunFlashStage(context_, state_, FlashStage::Me);
        // A cancel takes the cleanup path, as at every other check.
        if (end == StageEnd::Aborted) ending_ = Ending::Cancelled;
        if (end == StageEnd::Failed) ending_ = Ending::Failed;
        return end == StageEnd::Failed ? Exit::Rollback : Exit::Cleanup;
    }

    // Deletes, newest first, the files of this run: in the work folder while
    // unpacking, in the DestinationFolder (only what was copied) after.
    void Rollback() {
        dialog_.SetControlText(control::Status, "Rollback the updated file...");
        dialog_.RepaintWindow();
        if (!state_.HaveRecordTable || state_.FileCount == 0) return;
        const std::string &folder =
            state_.InDestination ? context_.Run.DestinationFolder : state_.WorkFolder;
        uint32_t k = std::min(state_.CurrentIndex, state_.FileCount - 1);
        for (;; --k) {
            SetProgress(dialog_, Percentage(k, state_.FileCount));
            bool ours = state_.InDestination ? bool(state_.Copied[k]) : nameUsable_[k];
            if (ours) files_.RemoveFile(folder + state_.RecordTable[k].FileName);
            if (k == 0) break;
        }
    }

    // Under option bit 0x1 the DestinationFolder goes at the end of the run;
    // as a whole only when this run made it, else only what the run put in.
    void RemoveDestination() {
        const std::string &dest = context_.Run.DestinationFolder;
        if (state_.DestinationCreated) {
            DeleteFolderTree(files_, dest);
            return;
        }
        for (uint32_t i = 0; i < state_.Copied.size(); ++i)
            if (state_.Copied[i]) files_.RemoveFile(dest + state_.RecordTable[i].FileName);
        for (const std::string &image : state_.ImagesWritten) files_.RemoveFile(dest + image);
    }

    void RecordOutcome(bool restarted) {
        RunOutcome outcome = ending_ == Ending::Completed ? OutcomeOfVerdicts(state_, restarted)
                             : ending_ == Ending::Cancelled ? RunOutcome::Cancelled
                                                            : RunOutcome::Failed;
        context_.Run.Outcome.store(outcome);
        Log("worker ended: " + std::string(OutcomeText(outcome)));
    }

    void Cleanup() {
        if (!state_.WorkFolder.empty()) DeleteFolderTree(files_, state_.WorkFolder);
        if (context_.Run.Options.OptionWord & option_bit::DeleteAtEnd) RemoveDestination();
        state_.RecordTable.clear();
        state_.RecordTable.shrink_to_fit();
        state_.PackageBuffer.clear();
        state_.PackageBuffer.shrink_to_fit();
        if (!state_.ScratchA.empty()) files_.RemoveFile(state_.ScratchA);
        if (!state_.ScratchB.empty()) files_.RemoveFile(state_.ScratchB);
        dialog_.SetProgressPosition(0);
        dialog_.SetControlText(control::Percentage, "");
        dialog_.SetControlText(control::Status, "");
        dialog_.RepaintWindow();
        context_.Time.Sleep(10);
        bool restarted = DecideRestart(context_, state_);
        RecordOutcome(restarted);
        dialog_.PostQuit(0);
    }
};

}  // namespace

int ExtractWorker(WorkerContext &context) {
    // The worker's boxes are logged, and tell the dialog that the worker
    // waits for the user.
    RunBoxes boxes(context.Boxes, context.Run, BoxesOf::Worker);
    WorkerContext c{context.Files, context.Resources, context.Dialog, boxes, context.Programs,
                    context.Results, context.Restart, context.Time, context.Run};
    Worker worker(c);
    return worker.Run();
}

}  // namespace fwpack
