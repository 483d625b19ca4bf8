// The flash stages and the restart decision, run through the worker on real
// files: images, checksums, command lines, verdicts, boxes and restart.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "payload/bytes.h"
#include "payload/checksum16.h"
#include "payload/tagged_resource.h"
#include "run/run_options.h"
#include "support/update_fakes.h"
#include "update/decide_restart.h"
#include "run/temp_names.h"
#include "update/extract_image.h"
#include "update/flash_stage.h"

namespace fwpack {
namespace {

using test::UpdateRig;
using Events = std::vector<std::string>;

const std::vector<uint8_t> kBios = test::SampleBytes(5000, 7);
const std::vector<uint8_t> kMe = test::SampleBytes(3000, 8);

// A package with two tools, both images and the names of both programs.
void Arrange(UpdateRig &rig, uint32_t flags = 0, const std::string &id = "ID $1 x",
             bool me = true) {
    OptionBlock o;
    o.Flags = flags;
    o.FlashProgram = "flash.exe";
    o.BiosImageName = "bios.bin";
    o.IdString = id;
    if (me) o.MeFlashProgram = "meflash.exe";
    o.MeImageName = "me.bin";
    rig.SetOptions(o);
    ApplyOptionFlags(rig.run.Options, flags);
    rig.SetTools({test::Tool("flash.exe", 100, 1), test::Tool("meflash.exe", 80, 2)});
    rig.resources.res[BiosPackage] = test::ImageResource(BiosPackage, kBios);
    rig.resources.res[MePackage] = test::ImageResource(MePackage, kMe);
}

// The flash programs: each writes its two verdicts and notes where it ran.
struct Verdicts {
    int32_t status = 1, reboot = 1, meStatus = 1, meReboot = 1;
};
void InstallPrograms(UpdateRig &rig, Verdicts v = {}) {
    rig.programs.onStart = [&rig, v](const test::StartCall &call) {
        if (call.application.ends_with("/flash.exe")) {
            rig.results.Set("RtnStatus", v.status);
            rig.results.Set("RtnReboot", v.reboot);
        } else {
            rig.results.Set("MERtnStatus", v.meStatus);
            rig.results.Set("MERtnReboot", v.meReboot);
        }
    };
}

size_t RollbackBars(const UpdateRig &rig, Events *bars = nullptr) {
    const Events &ev = rig.dialog.events;
    auto rb = std::find(ev.begin(), ev.end(), "text 1009 Rollback the updated file...");
    if (rb == ev.end()) return 0;
    Events b;
    for (auto it = rb; it != ev.end(); ++it)
        if (it->starts_with("pos ")) b.push_back(*it);
    b.pop_back();   // the cleanup's reset
    if (bars) *bars = b;
    return b.size();
}

TEST(FlashStages, BothStagesCompleteAndTheQuestionDecides) {
    for (BoxButton answer : {BoxButton::Yes, BoxButton::No}) {
        UpdateRig rig;
        Arrange(rig);
        std::vector<std::string> cwdAtStart;
        InstallPrograms(rig);
        auto inner = rig.programs.onStart;
        rig.programs.onStart = [&](const test::StartCall &c) {
            cwdAtStart.push_back(*rig.files.WorkingDirectory() + "/");
            inner(c);
        };
        rig.boxes.answers = {answer};
        rig.RunWorker();

        const std::string &d = rig.dest;
        ASSERT_EQ(rig.programs.starts.size(), 2u);
        const test::StartCall &bios = rig.programs.starts[0], &me = rig.programs.starts[1];
        EXPECT_EQ(bios.commandLine, d + "flash.exe " + d + "bios.bin /id:ID $1 x /option:00000000");
        EXPECT_EQ(bios.application, d + "flash.exe");
        EXPECT_EQ(bios.folder, d);
        EXPECT_EQ(me.commandLine, d + "meflash.exe " + d + "me.bin");
        EXPECT_EQ(me.application, d + "meflash.exe");
        EXPECT_EQ(cwdAtStart, (Events{d, d}));
        EXPECT_EQ(*rig.files.WorkingDirectory(), rig.startDir);
        EXPECT_EQ(rig.programs.waits, 2);
        EXPECT_EQ(rig.programs.closes, 2);
        EXPECT_EQ(test::ReadBytes(d + "bios.bin"), kBios);
        EXPECT_EQ(test::ReadBytes(d + "me.bin"), kMe);
        EXPECT_TRUE(rig.TempRootEntries().empty());

        // Both names set: no completion box; the question comes last.
        ASSERT_EQ(rig.boxes.shown.size(), 1u);
        const test::ShownBox &q = rig.boxes.shown[0];
        EXPECT_EQ(q.text, "Update successful!\r\nIt will take effect after reboot!\r\nReboot now?");
        EXPECT_EQ(q.caption, "DadErive");
        EXPECT_EQ(q.icon, BoxIcon::Question);
        EXPECT_EQ(q.buttons, BoxButtons::YesNo);
        EXPECT_EQ(rig.restart.calls, answer == BoxButton::Yes ? 1 : 0);
        // The window is hidden once the first program is about to start.
        EXPECT_EQ(std::count(rig.dialog.events.begin(), rig.dialog.events.end(), "hide window"), 2);
        EXPECT_EQ(rig.dialog.events.back(), "quit 0");
    }
}

TEST(FlashStages, OptionTextEmptyIdAndDebugWaitBox) {
    UpdateRig rig;
    Arrange(rig, 0x3, "", false);
    ASSERT_TRUE(ParseCommandLine(rig.run.Options, "/nopause /debug"));
    InstallPrograms(rig);
    rig.RunWorker();
    const std::string &d = rig.dest;
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_EQ(rig.programs.starts[0].commandLine,
              d + "flash.exe " + d + "bios.bin /option:00020023");
    // Completion box first, then the wait box with the error icon.
    EXPECT_EQ(rig.boxes.Texts(), (Events{"All files successfully extract to the specified folder.",
                                         "WaitForSingleObject:WAIT_OBJECT_0"}));
    EXPECT_EQ(rig.boxes.shown[1].icon, BoxIcon::Error);
    EXPECT_EQ(rig.boxes.shown[1].caption, "Update Title");
    // 1 and 1 from the BIOS program, but no ME stage: no restart, no question.
    EXPECT_EQ(rig.restart.calls, 0);
    // Bit 0x1 was set: the folder this run made is gone at the end.
    EXPECT_FALSE(test::FileExists(rig.dest));
}

TEST(FlashStages, WaitResultTextsOnlyWithTheDebugSwitch) {
    const std::pair<uint32_t, const char *> waits[] = {
        {0x0, "WaitForSingleObject:WAIT_OBJECT_0"},
        {0x80, "WaitForSingleObject:WAIT_ABANDONED"},
        {0x102, "WaitForSingleObject:WAIT_TIMEOUT"},
        {0xFFFFFFFF, "WaitForSingleObject:Unknow"},
        {0x5, "WaitForSingleObject:Unknow"}};
    for (auto [result, text] : waits) {
        UpdateRig rig;
        Arrange(rig, 0x20000, "x", false);   // the bit alone shows nothing
        rig.run.Options.DebugBoxes = true;
        rig.programs.waitResult = result;
        std::filesystem::create_directory(rig.dest);
        WorkerRunState s;
        EXPECT_EQ(RunFlashStage(rig.context, s, FlashStage::Bios), StageEnd::Completed);
        EXPECT_EQ(rig.boxes.Texts(), Events{text});
        EXPECT_EQ(s.RtnStatus, -1);   // the key is absent
        EXPECT_EQ(s.Launched, 1);
    }
    UpdateRig rig;
    Arrange(rig, 0x20000, "x", false);
    std::filesystem::create_directory(rig.dest);
    WorkerRunState s;
    EXPECT_EQ(RunFlashStage(rig.context, s, FlashStage::Bios), StageEnd::Completed);
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(rig.programs.starts[0].commandLine.ends_with(" /option:00020000"));
}

TEST(FlashStages, FailuresShowTheStageTextAndRollBackEveryRecord) {
    struct Case {
        const char *name;
        std::function<void(UpdateRig &)> arrange;
        Events boxes;
        bool imageStays;
        size_t starts;
    };
    auto badSum = test::ImageResource(BiosPackage, kBios);
    PutU32(badSum.data() + kTaggedHeaderSize + 4 + record_offset::Checksum,
           0x10000u | Checksum16(kBios.data(), kBios.size()));
    auto shortPackage = MakeTaggedResource(BiosPackage, std::vector<uint8_t>(303, 0));
    auto brokenMe = MakeTaggedResource(MePackage, {0x78, 0x01, 0xFF});
    PackageFile meFile;
    meFile.Record.FileName = "me.bin";
    meFile.Bytes = kMe;
    auto mePackage = BuildFilePackage({meFile});
    mePackage[4 + record_offset::Checksum] ^= 1;
    auto badMeSum = MakeTaggedResource(MePackage, test::Deflate(mePackage));
    const Case cases[] = {
        {"checksum upper bits", [&](UpdateRig &r) { r.resources.res[BiosPackage] = badSum; },
         {"Bin Checksum failed, BIOS flash aborted!"}, false, 0},
        {"no BIOS package", [](UpdateRig &r) { r.resources.res.erase(BiosPackage); },
         {"Bin file not found, BIOS flash aborted!"}, false, 0},
        {"package under 304 bytes", [&](UpdateRig &r) { r.resources.res[BiosPackage] = shortPackage; },
         {"Bin file not found, BIOS flash aborted!"}, false, 0},
        {"BIOS program does not start", [](UpdateRig &r) { r.programs.failStart = true; },
         {"Fail to launch program, process aborted!"}, true, 1},
        {"ME package corrupt", [&](UpdateRig &r) { r.resources.res[MePackage] = brokenMe; },
         {"Fail to decompress the BIN data, extracting process aborted!",
          "Bin file not found, ME flash aborted!"}, true, 1},
        {"ME checksum", [&](UpdateRig &r) { r.resources.res[MePackage] = badMeSum; },
         {"Bin Checksum failed, ME flash aborted!"}, true, 1},
        {"ME program does not start", [](UpdateRig &r) { r.programs.failStartOf = "meflash.exe"; },
         {"Fail to launch flash ME program, process aborted!"}, true, 2},
        {"command line over 259", [](UpdateRig &r) { r.run.DestinationFolder = r.dir / std::string(120, 'd') + "/"; },
         {"Fail to launch program, process aborted!"}, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        Arrange(rig);
        InstallPrograms(rig);
        c.arrange(rig);
        std::string cwdAtRollback;
        rig.dialog.onEvent = [&](const std::string &e) {
            if (e == "text 1009 Rollback the updated file...")
                cwdAtRollback = *rig.files.WorkingDirectory();
        };
        rig.RunWorker();
        EXPECT_EQ(rig.boxes.Texts(), c.boxes);
        EXPECT_EQ(rig.programs.starts.size(), c.starts);
        Events bars;
        EXPECT_EQ(RollbackBars(rig, &bars), 2u);   // records 1 and 0, never record 2
        EXPECT_EQ(bars, (Events{"pos 50", "pos 0"}));
        const std::string &d = rig.run.DestinationFolder;
        EXPECT_FALSE(test::FileExists(d + "flash.exe") || test::FileExists(d + "meflash.exe"));
        EXPECT_EQ(test::FileExists(d + "bios.bin"), c.imageStays);
        EXPECT_EQ(cwdAtRollback, rig.startDir);
        EXPECT_EQ(rig.restart.calls, 0);
        EXPECT_TRUE(rig.TempRootEntries().empty());
    }
}

TEST(FlashStages, AnImageNameThatLeavesTheFolderIsNeitherWrittenNorDeleted) {
    UpdateRig rig;
    Arrange(rig, 0x1, "x", false);
    OptionBlock o;
    o.Flags = 0x1;
    o.FlashProgram = "flash.exe";
    o.BiosImageName = "../mine.bin";
    rig.SetOptions(o);
    test::WriteBytes(rig.dir / "mine.bin", {4, 2});
    rig.RunWorker();
    EXPECT_EQ(rig.boxes.Texts(), (Events{"All files successfully extract to the specified folder.",
                                         "Bin file not found, BIOS flash aborted!"}));
    EXPECT_TRUE(rig.programs.starts.empty());
    EXPECT_EQ(test::ReadBytes(rig.dir / "mine.bin"), (std::vector<uint8_t>{4, 2}));
    EXPECT_TRUE(rig.TempRootEntries().empty());
}

TEST(FlashStages, EmptyImageWithChecksumZeroIsFlashed) {
    UpdateRig rig;
    Arrange(rig, 0, "x", false);
    rig.resources.res[BiosPackage] = test::ImageResource(BiosPackage, {});
    rig.RunWorker();
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_TRUE(test::FileExists(rig.dest + "bios.bin"));
    EXPECT_TRUE(test::ReadBytes(rig.dest + "bios.bin").empty());
}

TEST(FlashStages, FolderWithSpacesIsNamedAsTheApplication) {
    UpdateRig rig;
    Arrange(rig, 0, "x", false);
    rig.run.DestinationFolder = rig.dir / "my dest" + "/";
    rig.RunWorker();
    const std::string &d = rig.run.DestinationFolder;
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_EQ(rig.programs.starts[0].application, d + "flash.exe");
    EXPECT_EQ(rig.programs.starts[0].commandLine,
              d + "flash.exe " + d + "bios.bin /id:x /option:00000000");
}

TEST(FlashStages, ProgramNamedWithoutItsExtension) {
    UpdateRig rig;
    Arrange(rig, 0, "x", false);
    OptionBlock o;
    o.FlashProgram = "flash";
    o.BiosImageName = "bios.bin";
    rig.SetOptions(o);
    rig.RunWorker();
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_EQ(rig.programs.starts[0].application, rig.dest + "flash.exe");
    EXPECT_TRUE(rig.programs.starts[0].commandLine.starts_with(rig.dest + "flash " + rig.dest));
}

TEST(FlashStages, BiosVerdictOtherThanOneAndOneSkipsTheMeStage) {
    for (Verdicts v : {Verdicts{1, 0}, Verdicts{0, 1}, Verdicts{2, 1}}) {
        UpdateRig rig;
        Arrange(rig);
        InstallPrograms(rig, v);
        rig.RunWorker();
        EXPECT_EQ(rig.programs.starts.size(), 1u);
        EXPECT_TRUE(rig.boxes.shown.empty());
        EXPECT_EQ(rig.restart.calls, 0);
        EXPECT_EQ(RollbackBars(rig), 0u);
    }
    // An ME program that reports failure: no question either.
    UpdateRig rig;
    Arrange(rig);
    InstallPrograms(rig, Verdicts{1, 1, 1, 0});
    rig.RunWorker();
    EXPECT_EQ(rig.programs.starts.size(), 2u);
    EXPECT_TRUE(rig.boxes.shown.empty());
}

// A cancel after the unpacking has completed (the dialog stops waiting for
// the worker then) still starts no flash program: not when it comes while
// the completion box is up, nor while the window is being hidden, nor for
// the ME stage while the BIOS flash program runs.
TEST(FlashStages, NothingStartsAfterACancel) {
    struct Case {
        const char *name;
        bool me;
        std::function<void(UpdateRig &)> arm;
        size_t starts;
    };
    const Case cases[] = {
        {"completion box", false,
         [](UpdateRig &rig) {
             rig.boxes.onShow = [&rig](const test::ShownBox &) {
                 EXPECT_EQ(rig.run.Phase.load(), WorkerPhase::InBox);
                 rig.run.AbortFlag = 1;
             };
         },
         0},
        {"window hidden", true,
         [](UpdateRig &rig) {
             rig.dialog.onEvent = [&rig](const std::string &e) {
                 if (e == "hide window") rig.run.AbortFlag = 1;
             };
         },
         0},
        {"BIOS flash program running", true,
         [](UpdateRig &rig) {
             auto verdicts = rig.programs.onStart;
             rig.programs.onStart = [&rig, verdicts](const test::StartCall &c) {
                 verdicts(c);
                 rig.run.AbortFlag = 1;
             };
         },
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        Arrange(rig, 0, "ID", c.me);
        ASSERT_TRUE(ParseCommandLine(rig.run.Options, "/nopause"));
        InstallPrograms(rig);
        c.arm(rig);
        rig.RunWorker();
        EXPECT_EQ(rig.programs.starts.size(), c.starts);
        EXPECT_EQ(rig.restart.calls, 0);
        // An abort takes the cleanup path: no rollback, no box of its own.
        EXPECT_EQ(RollbackBars(rig), 0u);
        EXPECT_EQ(rig.boxes.shown.size(), c.me ? 0u : 1u);
        EXPECT_EQ(*rig.files.WorkingDirectory(), rig.startDir);
        EXPECT_TRUE(test::FileExists(rig.dest + "flash.exe"));
        EXPECT_EQ(rig.dialog.events.back(), "quit 0");
    }
}

TEST(DecideRestart, EveryPath) {
    struct Case {
        bool factory, noPause, noReboot;
        WorkerRunState s;
        std::deque<BoxButton> answers;
        size_t questions;
        int restarts;
    };
    WorkerRunState ok;
    ok.Launched = ok.RtnStatus = ok.RtnReboot = ok.MERtnStatus = ok.MERtnReboot = 1;
    WorkerRunState noMe = ok;
    noMe.MERtnStatus = noMe.MERtnReboot = 0;
    WorkerRunState notLaunched = ok;
    notLaunched.Launched = 0;
    WorkerRunState unread = ok;
    unread.RtnReboot = -1;
    const Case cases[] = {
        {false, false, false, ok, {BoxButton::Yes}, 1, 1},
        {false, false, false, ok, {BoxButton::No}, 1, 0},
        {false, true, false, ok, {}, 0, 1},
        {false, true, true, ok, {}, 0, 1},   // NoPause is tested first
        {false, false, true, ok, {}, 0, 0},
        {true, true, false, ok, {}, 0, 0},   // Factory wins
        {true, false, false, ok, {}, 0, 0},
        {false, true, false, noMe, {}, 0, 0},
        {false, false, false, noMe, {}, 0, 0},
        {false, true, false, notLaunched, {}, 0, 0},
        {false, false, false, unread, {}, 0, 0},
    };
    int i = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(i++);
        UpdateRig rig;
        rig.run.Options.Factory = c.factory;
        rig.run.Options.NoPause = c.noPause;
        rig.run.Options.NoReboot = c.noReboot;
        rig.boxes.answers = c.answers;
        DecideRestart(rig.context, c.s);
        EXPECT_EQ(rig.boxes.shown.size(), c.questions);
        EXPECT_EQ(rig.restart.calls, c.restarts);
    }
}

TEST(FlashStages, ChecksumOfAFileAndResultValues) {
    UpdateRig rig;
    std::vector<uint8_t> bytes(70000, 0xFF);   // sum 17850000 wraps past 16 bits
    test::WriteBytes(rig.dir / "img", bytes);
    EXPECT_EQ(Checksum16(rig.files, rig.dir / "img"), uint16_t(70000u * 255u));
    test::WriteBytes(rig.dir / "empty", {});
    EXPECT_EQ(Checksum16(rig.files, rig.dir / "empty"), 0);
    EXPECT_EQ(Checksum16(rig.files, rig.dir / "missing"), 0);

    EXPECT_EQ(ReadResultValue(rig.results, kResultKey, "RtnStatus"), -1);
    rig.results.Set("RtnStatus", 0x7FFFFFFF);
    EXPECT_EQ(ReadResultValue(rig.results, kResultKey, "RtnStatus"), 0x7FFFFFFF);
    EXPECT_EQ(rig.results.reads.back(), "Software\\RIVIREVOV|RtnStatus");
}

// A cancel right after "Update completed.": the dialog waits for the worker
// as long as it works on files, so the worker must reach its cleanup without
// writing the image, and must say it is working all the while. Under option
// bit 0x1 the destination goes too. A flash program that runs is the one
// wait the dialog need not sit out.
TEST(FlashStages, ACancelRightAfterTheUnpackingLosesNoCleanup) {
    UpdateRig rig;
    Arrange(rig, 0x1);
    InstallPrograms(rig);
    std::vector<WorkerPhase> phases;
    size_t logAtCancel = 0;
    rig.dialog.onEvent = [&](const std::string &e) {
        if (e == "text 1009 Update completed.") {
            rig.run.AbortFlag = 1;
            logAtCancel = rig.files.log.size();
        }
        if (rig.run.AbortRequested()) phases.push_back(rig.run.Phase.load());
    };
    rig.RunWorker();
    EXPECT_TRUE(rig.programs.starts.empty());
    EXPECT_TRUE(rig.boxes.shown.empty());
    // Nothing of the image's extraction happened after the cancel: its own
    // scratch names (deleted first thing) are not among the unpacking's.
    const std::string scratch = "remove " + rig.tempRoot;
    auto isScratch = [&](const std::string &line) {
        return line.starts_with(scratch) && line.size() == scratch.size() + 8;
    };
    std::set<std::string> unpackingScratch;
    for (size_t i = 0; i < logAtCancel; ++i)
        if (isScratch(rig.files.log[i])) unpackingScratch.insert(rig.files.log[i]);
    EXPECT_EQ(unpackingScratch.size(), 2u);
    for (size_t i = logAtCancel; i < rig.files.log.size(); ++i) {
        if (isScratch(rig.files.log[i])) {
            EXPECT_TRUE(unpackingScratch.count(rig.files.log[i])) << rig.files.log[i];
        }
    }
    EXPECT_TRUE(rig.TempRootEntries().empty());
    EXPECT_FALSE(std::filesystem::exists(rig.dest));
    EXPECT_EQ(rig.dialog.events.back(), "quit 0");
    EXPECT_EQ(phases, std::vector<WorkerPhase>(phases.size(), WorkerPhase::Working));
    EXPECT_GT(phases.size(), 3u);
    EXPECT_EQ(rig.run.Outcome.load(), RunOutcome::Cancelled);

    // The same package uncancelled: the worker says so while the program runs.
    UpdateRig flashed;
    Arrange(flashed, 0x1, "ID", false);
    InstallPrograms(flashed);
    std::vector<WorkerPhase> whileRunning;
    flashed.programs.onWait = [&] { whileRunning.push_back(flashed.run.Phase.load()); };
    flashed.RunWorker();
    EXPECT_EQ(whileRunning, std::vector<WorkerPhase>{WorkerPhase::InFlashProgram});
    EXPECT_EQ(flashed.run.Phase.load(), WorkerPhase::Working);
}

// The run log follows the run: stages, files with both checksums, the
// programs with their command lines and exit codes, the verdicts, the
// restart decision, the boxes and the outcome, in that order; a flash
// program that reports failure fails the run.
TEST(FlashStages, TheRunLogFollowsTheRun) {
    for (int32_t meStatus : {1, 0}) {
        SCOPED_TRACE(meStatus);
        UpdateRig rig;
        Arrange(rig);
        InstallPrograms(rig, Verdicts{1, 1, meStatus, 1});
        rig.programs.exitCode = 7;
        rig.boxes.answers = {BoxButton::No};
        rig.StartLog();
        rig.RunWorker();
        const test::MemoryLog &log = rig.logFile;
        std::vector<std::string> order = {
            "stage 0 (preparation): start", "stage 0 (preparation): done",
            "stage 5 (unpacking): start", "file unpacked: \"flash.exe\", size 100, checksum stored",
            "stage 6 (copying): done", "image \"bios.bin\": checksum stored 0x",
            "program started: " + rig.dest + "flash.exe " + rig.dest + "bios.bin /id:ID $1 x",
            "program ended: exit code 7, wait result 0x0",
            "verdict: RtnStatus = 1, RtnReboot = 1", "verdict: MERtnStatus = " +
                std::to_string(meStatus), "stage 7 (completion and flash stages): done"};
        if (meStatus == 1) {
            order.push_back("box shown: caption \"DadErive\", text \"Update successful!\\r\\n");
            order.push_back("box answered: No");
            order.push_back("restart: none (the user answered No)");
            order.push_back("worker ended: done, a restart is needed and was not made");
        } else {
            order.push_back("restart: none (not both flash programs");
            order.push_back("worker ended: failed");
        }
        int last = -1;
        for (const std::string &line : order) {
            int at = log.Find(line);
            EXPECT_GT(at, last) << line;
            last = std::max(last, at);
        }
        // Each file's checksums, stored and computed, agree in a sound package.
        int file = log.Find("file unpacked: \"meflash.exe\"");
        ASSERT_GE(file, 0);
        const std::string &l = log.lines[size_t(file)];
        const size_t stored = l.find("stored ") + 7, computed = l.find("computed ") + 9;
        EXPECT_EQ(l.substr(stored, l.find(',', stored) - stored), l.substr(computed)) << l;
        EXPECT_EQ(rig.run.Outcome.load(),
                  meStatus == 1 ? RunOutcome::RestartNeeded : RunOutcome::Failed);
    }
}

// Without a temp root the image's scratch names would be bare names in the
// working directory: files there that look like them are left alone.
TEST(FlashStages, NoTempRootDeletesNothingInTheWorkingDirectory) {
    UpdateRig rig;
    Arrange(rig);
    std::filesystem::create_directories(rig.dest);
    std::filesystem::current_path(rig.dest);
    std::vector<std::string> lookalikes;
    for (uint32_t tick = rig.clock.tick; tick < rig.clock.tick + 200; ++tick) {
        lookalikes.push_back(ScratchNameA("", tick));
        lookalikes.push_back(ScratchNameB("", tick));
    }
    for (const std::string &name : lookalikes) test::WriteBytes(rig.dest + name, {1, 2, 3});
    rig.files.fail = [](const std::string &op, const std::string &) { return op == "temproot"; };
    std::optional<uint32_t> stored = ExtractImage(rig.context, BiosPackage, rig.dest + "bios.bin");
    EXPECT_FALSE(stored);
    for (const std::string &name : lookalikes) EXPECT_TRUE(test::FileExists(rig.dest + name)) << name;
}

// A working directory that cannot be read is no launch failure: the stage
// names the image by its full path, runs the program in the destination and
// leaves the working directory alone.
TEST(FlashStages, AnUnreadableWorkingDirectoryDoesNotStopTheStage) {
    UpdateRig rig;
    Arrange(rig, 0, "ID", false);
    InstallPrograms(rig);
    rig.files.fail = [](const std::string &op, const std::string &) { return op == "getcwd"; };
    rig.RunWorker();
    EXPECT_EQ(rig.boxes.Texts(),
              std::vector<std::string>{"All files successfully extract to the specified folder."});
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_EQ(rig.programs.starts[0].folder, rig.dest);
    for (const std::string &line : rig.files.log) EXPECT_NE(line.rfind("cwd ", 0), 0u) << line;
    EXPECT_EQ(rig.run.Outcome.load(), RunOutcome::RestartNeeded);
}

}  // namespace
}  // namespace fwpack
