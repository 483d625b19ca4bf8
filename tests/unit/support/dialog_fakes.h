// Recording fakes for the start-up and window-handler tests. Every call
// that has an effect appends one line to a shared log, so a test can check
// the order of the steps as well as their arguments.
#pragma once
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/main_window.h"
#include "platform/message_box.h"
#include "platform/program_environment.h"
#include "platform/resources.h"
#include "dialog/dialog_context.h"
#include "support/memory_log.h"

namespace fwpack::test {

using Log = std::vector<std::string>;

inline std::string Str(std::string_view s) { return std::string(s); }

struct FakeProgram : ProgramEnvironment {
    Log &log;
    std::string module = "C:\\pkg\\tool.rev3.exe";
    std::string commandLine = "\"C:\\pkg\\tool.rev3.exe\"";
    bool instance = true;
    bool mutexExists = false;
    explicit FakeProgram(Log &l) : log(l) {}
    std::string ModuleFileName() override { return module; }
    std::string CommandLine() override { return commandLine; }
    bool HaveInstanceHandle() override { return instance; }
    bool MutexAlreadyExists(std::string_view name) override {
        log.push_back("mutex " + Str(name));
        return mutexExists;
    }
    bool WritePrivateProfile(std::string_view path, std::string_view section, std::string_view key,
                            std::string_view value) override {
        log.push_back("profile " + Str(path) + " [" + Str(section) + "] " + Str(key) + "=" +
                      Str(value));
        return true;
    }
};

struct FakeWindow : MainWindow {
    Log &log;
    bool workerStarts = true;
    std::optional<std::string> picked;
    std::function<void()> whilePickerOpen;
    explicit FakeWindow(Log &l) : log(l) {}
    void CenterWindow() override { log.push_back("center"); }
    void SetIcon(IconHandle icon, bool large) override {
        log.push_back("seticon " + std::to_string(icon) + (large ? " large" : " small"));
    }
    IconHandle MainIcon() override { return 128; }
    // The fake hands out the resource id (plus 1000 for a sized image) as the handle.
    IconHandle LoadIconResource(int id) override { return IconHandle(id); }
    IconHandle LoadIconImage(int id, int size) override {
        log.push_back("loadimage " + std::to_string(id) + " " + std::to_string(size));
        return IconHandle(1000 + id);
    }
    void DestroyIcon(IconHandle icon) override { log.push_back("destroy " + std::to_string(icon)); }
    void SetButtonIcon(int id, IconHandle icon) override {
        log.push_back("buttonicon " + std::to_string(id) + " " + std::to_string(icon));
    }
    void SetTitle(std::string_view title) override { log.push_back("title " + Str(title)); }
    void SetControlText(int id, std::string_view text) override {
        log.push_back("text " + std::to_string(id) + " " + Str(text));
    }
    void Show() override { log.push_back("show"); }
    void HideForGood() override { log.push_back("hide"); }
    void SetTimer(unsigned id, unsigned ms) override {
        log.push_back("settimer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillTimer(unsigned id) override { log.push_back("killtimer " + std::to_string(id)); }
    bool StartWorker() override {
        log.push_back(workerStarts ? "worker" : "worker failed");
        return workerStarts;
    }
    void PostQuit(int code) override { log.push_back("quit " + std::to_string(code)); }
    std::optional<std::string> PickFolder(std::string_view title) override {
        log.push_back("picker " + Str(title));
        if (whilePickerOpen) whilePickerOpen();
        return picked;
    }
};

// Only what start-up asks of the file system; the rest is never called.
struct FakeFiles : FileSystem {
    Log &log;
    std::string root = "C:\\TEMP\\";
    std::set<std::string> existing;
    explicit FakeFiles(Log &l) : log(l) {}
    char Separator() const override { return '\\'; }
    std::string TempRoot() override { return root; }
    std::optional<std::string> TempFileName(std::string_view folder, std::string_view prefix,
                                            uint32_t unique) override {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", unsigned(unique & 0xFFFF));
        return Str(folder) + Str(prefix.substr(0, 3)) + hex + ".TMP";
    }
    std::optional<size_t> WriteWholeFile(std::string_view, std::span<const uint8_t>,
                                         const FileTimes *) override {
        return std::nullopt;
    }
    bool ReadWholeFile(std::string_view, std::vector<uint8_t> &) override { return false; }
    bool CopyFileOver(std::string_view, std::string_view) override { return false; }
    bool RemoveFile(std::string_view path) override {
        log.push_back("delete " + Str(path));
        return existing.erase(Str(path)) > 0;
    }
    bool Exists(std::string_view path) override { return existing.count(Str(path)) > 0; }
    bool CreateFolder(std::string_view) override { return false; }
    bool RemoveFolder(std::string_view) override { return false; }
    bool DeleteTree(std::string_view path) override {
        log.push_back("deletetree " + Str(path));
        return existing.erase(Str(path)) > 0;
    }
    std::optional<std::string> WorkingDirectory() override { return std::nullopt; }
    bool SetWorkingDirectory(std::string_view) override { return false; }
};

struct FakeClock : Clock {
    uint32_t tick = 1000;
    uint32_t TickCount() override { return tick; }
    void Sleep(uint32_t) override {}
};

struct FakeBoxes : MessageBoxes {
    Log &log;
    explicit FakeBoxes(Log &l) : log(l) {}
    BoxButton Show(std::string_view text, std::string_view caption, BoxIcon icon,
                   BoxButtons buttons) override {
        log.push_back("box " + Str(text) + " | " + Str(caption) + " | " +
                      std::to_string(uint32_t(icon) | uint32_t(buttons)));
        return BoxButton::Ok;
    }
};

struct FakeResources : ResourceSource {
    std::map<uint16_t, std::vector<uint8_t>> resources;
    std::span<const uint8_t> SetupResource(uint16_t id) const override {
        auto it = resources.find(id);
        if (it == resources.end()) return {};
        return it->second;
    }
};

// One of each fake, wired into a DialogContext.
struct DialogFixture {
    Log log;
    FakeProgram program{log};
    FakeWindow window{log};
    FakeFiles files{log};
    FakeClock clock;
    FakeBoxes boxes{log};
    FakeResources resources;
    RunState run;
    WindowState ui;
    MemoryLog logFile;
    DialogContext context{program, window, files, clock, boxes, resources, run, ui, logFile};

    bool Logged(const std::string &line) const {
        for (const auto &l : log)
            if (l == line) return true;
        return false;
    }
    size_t Count(const std::string &prefix) const {
        size_t n = 0;
        for (const auto &l : log) n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

}  // namespace fwpack::test
