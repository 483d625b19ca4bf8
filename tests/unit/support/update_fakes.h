// Recording fakes for the update run's seam, and a rig that runs the worker
// for real on files in a temporary folder through the POSIX file layer.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "payload/file_package.h"
#include "platform/posix/posix_files.h"
#include "support/memory_log.h"
#include "support/test_files.h"
#include "update/worker_context.h"

namespace fwpack::test {

struct FakeResources : ResourceSource {
    std::map<uint16_t, std::vector<uint8_t>> res;
    std::span<const uint8_t> SetupResource(uint16_t id) const override;
};

// Every control update as one line: "enable 1000 0", "hide 1002",
// "text 1009 Preparing data file...", "range 1 100", "pos 25",
// "paint 1003", "paint window", "hide window", "quit 0".
struct RecordingDialog : DialogControls {
    std::vector<std::string> events;
    std::function<void(const std::string &)> onEvent;   // may throw or set AbortFlag
    void EnableControl(int id, bool enable) override;
    void HideControl(int id) override;
    void SetControlText(int id, std::string_view text) override;
    void SetProgressRange(uint16_t minimum, uint16_t maximum) override;
    void SetProgressPosition(int position) override;
    void RepaintControl(int id) override;
    void RepaintWindow() override;
    void HideWindow() override;
    void PostQuit(int code) override;
    void Add(std::string e);
    // The texts set on control id, in order.
    std::vector<std::string> TextsOf(int id) const;
};

struct ShownBox {
    std::string text, caption;
    BoxIcon icon;
    BoxButtons buttons;
};
struct ScriptedBoxes : MessageBoxes {
    std::vector<ShownBox> shown;
    std::deque<BoxButton> answers;   // then Ok, or No for Yes/No boxes
    std::function<void(const ShownBox &)> onShow;   // while the box is up
    BoxButton Show(std::string_view text, std::string_view caption, BoxIcon icon,
                   BoxButtons buttons) override;
    std::vector<std::string> Texts() const;
};

struct StartCall {
    std::string application, commandLine, folder;
};
struct FakeProcesses : Processes {
    std::vector<StartCall> starts;
    bool failStart = false;            // every start fails
    std::string failStartOf;           // a start whose application ends so fails
    uint32_t waitResult = wait_result::Object0;
    uint32_t exitCode = 0;
    int waits = 0, closes = 0;
    std::function<void(const StartCall &)> onStart;   // the "flash program"
    std::function<void()> onWait;                     // while it runs
    std::optional<StartedProcess> Start(std::string_view application, std::string_view commandLine,
                                        std::string_view folder) override;
    uint32_t Wait(const StartedProcess &process) override;
    std::optional<uint32_t> ExitCode(const StartedProcess &) override { return exitCode; }
    void Close(const StartedProcess &process) override;
};

struct FakeResultValues : ResultValues {
    std::map<std::string, int32_t> values;   // "subkey|value" -> value
    std::vector<std::string> reads;
    std::optional<int32_t> ReadUserValue(std::string_view subkey, std::string_view value) override;
    void Set(const std::string &value, int32_t v);   // under Software\RIVIREVOV
};

struct FakeRestart : SystemRestart {
    int calls = 0;
    bool RestartSystem() override { ++calls; return true; }
};

struct FakeClock : Clock {
    uint32_t tick = 0x1234567;
    std::vector<uint32_t> sleeps;
    uint32_t TickCount() override { return tick += 17; }
    void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
};

// The POSIX file layer with a log of the changing calls ("remove <path>",
// "copy <from> <to>", "tree <path>", "cwd <path>") and injectable failures
// (ops "temproot", "tempname", "write", "read", "copy", "getcwd").
struct RecordingFiles : PosixFileSystem {
    using PosixFileSystem::PosixFileSystem;
    std::vector<std::string> log;
    std::function<bool(const std::string &op, const std::string &path)> fail;
    bool Fails(const std::string &op, std::string_view path) {
        return fail && fail(op, std::string(path));
    }
    std::string TempRoot() override;
    std::optional<std::string> TempFileName(std::string_view folder, std::string_view prefix,
                                            uint32_t unique) override;
    std::optional<size_t> WriteWholeFile(std::string_view path, std::span<const uint8_t> bytes,
                                         const FileTimes *times = nullptr) override;
    bool ReadWholeFile(std::string_view path, std::vector<uint8_t> &out) override;
    bool CopyFileOver(std::string_view from, std::string_view to) override;
    bool RemoveFile(std::string_view path) override;
    bool DeleteTree(std::string_view path) override;
    bool SetWorkingDirectory(std::string_view path) override;
    std::optional<std::string> WorkingDirectory() override;
    std::vector<std::string> Removed() const;   // the paths of "remove" lines
};

// A file of the tool package.
PackageFile Tool(const std::string &name, size_t size, uint32_t seed = 1);
// An image package resource: tagged, with one record; ME bodies are zlib.
std::vector<uint8_t> ImageResource(uint16_t id, const std::vector<uint8_t> &image,
                                   const std::string &name = "image.bin");

// The worker's world: <dir>/tmp/ is the temp root, <dir>/dest/ the default
// DestinationFolder (not made), and the fakes above.
struct UpdateRig {
    TempDir dir;
    std::string tempRoot, dest, startDir;
    RecordingFiles files;
    FakeResources resources;
    RecordingDialog dialog;
    ScriptedBoxes boxes;
    FakeProcesses programs;
    FakeResultValues results;
    FakeRestart restart;
    FakeClock clock;
    RunState run;
    MemoryLog logFile;
    WorkerContext context;

    UpdateRig();
    ~UpdateRig();
    void SetTools(const std::vector<PackageFile> &tools);
    void SetRawToolPackage(const std::vector<uint8_t> &package);   // deflated as given
    void SetOptions(const OptionBlock &block);   // copy and option word
    int RunWorker();
    // Turns the run log on, into logFile.
    void StartLog();
    std::vector<std::string> TempRootEntries() const;
};

}  // namespace fwpack::test
