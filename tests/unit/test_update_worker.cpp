// The extraction worker run for real on files in a temporary folder: the
// control protocol, percentages, failures, rollback, abort and cleanup.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "support/update_fakes.h"

namespace fwpack {
namespace {

using test::Tool;
using test::UpdateRig;
using Events = std::vector<std::string>;

// SetProgress and SetItemText as the dialog sees them.
void Bar(Events &e, int p) { e.insert(e.end(), {"pos " + std::to_string(p), "paint 1003"}); }
void Text(Events &e, int id, const std::string &t) {
    e.insert(e.end(), {"text " + std::to_string(id) + " " + t, "paint " + std::to_string(id)});
}
void Step(Events &e, int p) { Bar(e, p); Text(e, 1008, std::to_string(p) + "%"); }

Events StagesZeroToFour() {
    Events e{"enable 1000 0", "enable 1002 0", "hide 1002", "enable 1006 0", "hide 1006",
             "hide 1005",     "range 1 100",   "pos 0",     "text 1008 ",    "paint 1003"};
    Text(e, 1009, "Preparing data file...");
    Step(e, 25);
    Step(e, 50), Text(e, 1009, "Extracting file information...");
    Step(e, 75), Text(e, 1009, "Decompress merge data file...");
    Step(e, 100), Text(e, 1009, "");
    Step(e, 0), Text(e, 1009, "Initialize file information...");
    Text(e, 1009, "Extracting file information...");
    return e;
}
const Events kCleanup{"pos 0", "text 1008 ", "text 1009 ", "paint window", "quit 0"};

std::vector<PackageFile> Tools(int n, size_t size = 40) {
    std::vector<PackageFile> t;
    for (int i = 0; i < n; ++i) t.push_back(Tool("f" + std::to_string(i) + ".bin", size, i + 1));
    return t;
}

// The percentage texts of the file loops, stage 5 then stage 6.
std::pair<Events, Events> LoopPercentages(const test::RecordingDialog &d, size_t n) {
    Events texts = d.TextsOf(1008);
    // "", 25, 50, 75, 100, 0, <n of stage 5>, 0, <n of stage 6>, 50, 100, ""
    Events five(texts.begin() + 6, texts.begin() + 6 + n);
    Events six(texts.begin() + 7 + n, texts.begin() + 7 + 2 * n);
    return {five, six};
}

TEST(ExtractWorker, OneFileRunFollowsTheControlProtocolAndLeavesTheTool) {
    UpdateRig rig;
    auto tools = Tools(1);
    rig.SetTools(tools);
    EXPECT_EQ(rig.RunWorker(), 0);

    Events want = StagesZeroToFour();
    Step(want, 100);
    Step(want, 0), Text(want, 1009, "");
    Step(want, 100), Text(want, 1009, "Copying ...\\f0.bin");
    Step(want, 50);
    Step(want, 100), Text(want, 1009, "Update completed.");
    want.insert(want.end(), kCleanup.begin(), kCleanup.end());
    EXPECT_EQ(rig.dialog.events, want);

    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, "All files successfully extract to the specified folder.");
    EXPECT_EQ(rig.boxes.shown[0].caption, "Update Title");
    EXPECT_EQ(rig.boxes.shown[0].icon, BoxIcon::Information);
    EXPECT_EQ(rig.boxes.shown[0].buttons, BoxButtons::Ok);
    EXPECT_EQ(test::ReadBytes(rig.dest + "f0.bin"), tools[0].Bytes);
    // The stored write time survives the unpack and the copy.
    EXPECT_EQ(test::FileTimesOf(rig.dest + "f0.bin").LastWrite, tools[0].Record.LastWriteTime);
    EXPECT_TRUE(rig.TempRootEntries().empty());   // work folder, scratch A and B gone
    EXPECT_EQ(rig.clock.sleeps, std::vector<uint32_t>{10});
    EXPECT_TRUE(rig.programs.starts.empty());
    EXPECT_EQ(rig.restart.calls, 0);
}

TEST(ExtractWorker, PercentagesDivideBeforeMultiplying) {
    {
        UpdateRig rig;
        rig.SetTools(Tools(11, 3));
        rig.RunWorker();
        const Events want{"9%", "18%", "27%", "36%", "45%", "54%", "63%", "72%", "81%", "90%", "100%"};
        auto [five, six] = LoopPercentages(rig.dialog, 11);
        EXPECT_EQ(five, want);
        EXPECT_EQ(six, want);
        Events texts = rig.dialog.TextsOf(1008);
        EXPECT_EQ(Events(texts.end() - 4, texts.end()), (Events{"100%", "50%", "100%", ""}));
    }
    UpdateRig rig;
    rig.SetTools(Tools(100, 2));
    rig.RunWorker();
    auto [five, six] = LoopPercentages(rig.dialog, 100);
    for (const Events &loop : {five, six}) {
        EXPECT_EQ(loop[28], "28%");   // 29th file
        EXPECT_EQ(loop[56], "56%");   // 57th
        EXPECT_EQ(loop[57], "57%");   // 58th
        EXPECT_EQ(loop[99], "100%");
    }
    // The 28th and the 29th file both show 28, in both loops.
    EXPECT_EQ(std::count(rig.dialog.events.begin(), rig.dialog.events.end(), "pos 28"), 4);
}

TEST(ExtractWorker, ZeroSizeRecordRollsBackTheWorkFolderNewestFirst) {
    UpdateRig rig;
    auto tools = Tools(5);
    tools[2].Bytes.clear();
    rig.SetTools(tools);
    // A file of the same name in the temp root is not this run's.
    test::WriteBytes(rig.tempRoot + "f0.bin", {7});
    rig.RunWorker();

    EXPECT_EQ(rig.boxes.Texts(), Events{"Invalid data file size, extracting process aborted!"});
    EXPECT_EQ(rig.boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(rig.boxes.shown[0].caption, "Update Title");
    Events &ev = rig.dialog.events;
    auto rb = std::find(ev.begin(), ev.end(), "text 1009 Rollback the updated file...");
    ASSERT_NE(rb, ev.end());
    Events tail(rb, ev.end());
    Events want{"text 1009 Rollback the updated file...", "paint window"};
    Bar(want, 40), Bar(want, 20), Bar(want, 0);
    want.insert(want.end(), kCleanup.begin(), kCleanup.end());
    EXPECT_EQ(tail, want);

    Events removed = rig.files.Removed();
    auto f2 = std::find_if(removed.begin(), removed.end(),
                           [](const std::string &p) { return p.ends_with("/f2.bin"); });
    ASSERT_GE(removed.end() - f2, 3);
    EXPECT_TRUE(f2[1].ends_with("/f1.bin") && f2[2].ends_with("/f0.bin"));
    EXPECT_NE(f2[2], rig.tempRoot + "f0.bin");
    EXPECT_EQ(rig.TempRootEntries(), Events{"f0.bin"});   // work folder gone, stranger kept
    EXPECT_FALSE(test::FileExists(rig.dest));
}

TEST(ExtractWorker, AbortAtTheFirstCheckMakesNothing) {
    UpdateRig rig;
    rig.SetTools(Tools(2));
    rig.run.AbortFlag = 1;
    rig.RunWorker();
    Events want = StagesZeroToFour();
    want.resize(12);   // stage 0 only
    want.insert(want.end(), kCleanup.begin(), kCleanup.end());
    EXPECT_EQ(rig.dialog.events, want);
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(rig.TempRootEntries().empty());
    EXPECT_TRUE(rig.files.log.empty());
}

TEST(ExtractWorker, AbortDuringCopyingKeepsWhatWasCopied) {
    UpdateRig rig;
    rig.SetTools(Tools(4));
    rig.dialog.onEvent = [&](const std::string &e) {
        if (e == "text 1009 Copying ...\\f1.bin") rig.run.AbortFlag = 1;
    };
    rig.RunWorker();
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(test::FileExists(rig.dest + "f0.bin") && test::FileExists(rig.dest + "f1.bin"));
    EXPECT_FALSE(test::FileExists(rig.dest + "f2.bin"));
    EXPECT_TRUE(rig.TempRootEntries().empty());
    EXPECT_EQ(rig.dialog.TextsOf(1009).back(), "");
    EXPECT_EQ(std::count(rig.dialog.events.begin(), rig.dialog.events.end(),
                         "text 1009 Rollback the updated file..."), 0);
    EXPECT_EQ(rig.dialog.events.back(), "quit 0");
    EXPECT_EQ(rig.run.Outcome.load(), RunOutcome::Cancelled);
}

TEST(ExtractWorker, FailuresBeforeTheTableGoStraightToCleanup) {
    struct Case {
        const char *name;
        std::function<void(UpdateRig &)> arrange;
        const char *box;
    };
    std::vector<uint8_t> broken = test::Deflate(BuildFilePackage(Tools(2)));
    broken.resize(broken.size() / 2);
    std::vector<uint8_t> longTable(4 + 300);
    PutU32(longTable.data(), 2);   // two records promised, one present
    const Case cases[] = {
        {"no resource", [](UpdateRig &) {}, "Fail to extract the data, extracting process aborted!"},
        {"corrupt stream", [&](UpdateRig &r) { r.resources.res[ToolPackage] = broken; },
         "Fail to decompress the RADOZUDE data, extracting process aborted!"},
        {"empty package", [](UpdateRig &r) { r.SetRawToolPackage({}); },
         "No data in the decompressed data file, extracting process aborted!"},
        {"short count", [](UpdateRig &r) { r.SetRawToolPackage({1, 0}); },
         "No data in the decompressed data file, extracting process aborted!"},
        {"no files", [](UpdateRig &r) { r.SetTools({}); },
         "No file require to extract, process aborted!"},
        {"table past end", [&](UpdateRig &r) { r.SetRawToolPackage(longTable); },
         "Fail to read temporary data file, updating extracting aborted!"},
        {"scratch A not created",
         [](UpdateRig &r) {
             r.SetTools(Tools(1));
             r.files.fail = [&r](const std::string &op, const std::string &p) {
                 return op == "write" && p.rfind(r.tempRoot, 0) == 0 &&
                        p.find('/', r.tempRoot.size()) == std::string::npos;
             };
         },
         "Fail to create temporary data file, extracting process aborted!"},
        {"scratch B not opened",
         [](UpdateRig &r) {
             r.SetTools(Tools(1));
             r.files.fail = [](const std::string &op, const std::string &) { return op == "read"; };
         },
         "Fail to read temporary data file, updating extracting aborted!"},
        {"temp name fails",
         [](UpdateRig &r) {
             r.SetTools(Tools(1));
             r.files.fail = [](const std::string &op, const std::string &) { return op == "tempname"; };
         },
         "Fail to create temporary data file, extracting process aborted!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        c.arrange(rig);
        rig.RunWorker();
        EXPECT_EQ(rig.boxes.Texts(), Events{c.box});
        EXPECT_EQ(std::count(rig.dialog.events.begin(), rig.dialog.events.end(),
                             "text 1009 Rollback the updated file..."), 0);
        EXPECT_TRUE(rig.TempRootEntries().empty());   // scratch A and B never survive
        EXPECT_TRUE(std::filesystem::exists(rig.tempRoot));
        EXPECT_EQ(Events(rig.dialog.events.end() - 5, rig.dialog.events.end()), kCleanup);
    }
}

TEST(ExtractWorker, BrokenRecordsAreRefusedFileByFileWithRollback) {
    auto pkg = BuildFilePackage(Tools(3));
    auto renamed = pkg;   // record 1 named "../f1.bin"
    const char *evil = "../x";
    std::copy(evil, evil + 5, renamed.begin() + 4 + 300 + record_offset::FileName);
    auto oversize = pkg;   // record 2 claims one byte past the end
    PutU32(oversize.data() + 4 + 600 + record_offset::Size, 41);
    struct Case {
        std::vector<uint8_t> package;
        const char *box;
        Events bars;
    } cases[] = {
        {renamed, "Fail to create data file, extracting process aborted!", {"pos 33", "pos 0"}},
        {oversize, "Writing data error, extracting process aborted!", {"pos 66", "pos 33", "pos 0"}},
    };
    for (const Case &c : cases) {
        UpdateRig rig;
        rig.SetRawToolPackage(c.package);
        rig.RunWorker();
        EXPECT_EQ(rig.boxes.Texts(), Events{c.box});
        Events &ev = rig.dialog.events;
        auto rb = std::find(ev.begin(), ev.end(), "text 1009 Rollback the updated file...");
        Events bars;
        for (auto it = rb; it != ev.end(); ++it)
            if (it->starts_with("pos ")) bars.push_back(*it);
        bars.pop_back();   // the cleanup's reset
        EXPECT_EQ(bars, c.bars);
        EXPECT_FALSE(test::FileExists(rig.dir / "x"));
        EXPECT_TRUE(rig.TempRootEntries().empty());
    }
}

TEST(ExtractWorker, FaultsCaughtByTheGuardRollBackWithoutABox) {
    struct Fault {};
    for (const char *at : {"text 1009 Initialize file information...", "text 1008 66%"}) {
        UpdateRig rig;
        rig.SetTools(Tools(3));
        rig.dialog.onEvent = [at](const std::string &e) {
            if (e == at) throw Fault{};
        };
        rig.RunWorker();
        EXPECT_TRUE(rig.boxes.shown.empty());
        Events &ev = rig.dialog.events;
        auto rb = std::find(ev.begin(), ev.end(), "text 1009 Rollback the updated file...");
        ASSERT_NE(rb, ev.end()) << at;
        size_t bars = std::count_if(rb, ev.end(), [](auto &e) { return e.starts_with("pos "); });
        // Before the table: straight to cleanup; after file 2: records 1, 0.
        EXPECT_EQ(bars, std::string(at).ends_with("66%") ? 3u : 1u) << at;
        EXPECT_TRUE(rig.TempRootEntries().empty());
        EXPECT_EQ(ev.back(), "quit 0");
    }
}

TEST(ExtractWorker, AFailedCopyIsReportedAndRolledBack) {
    UpdateRig rig;
    rig.SetTools(Tools(3));
    rig.files.fail = [](const std::string &op, const std::string &p) {
        return op == "copy" && p.ends_with("f1.bin");
    };
    // The user's file of the failed copy's name is not the run's to delete.
    std::filesystem::create_directory(rig.dest);
    test::WriteBytes(rig.dest + "f1.bin", {4, 2});
    rig.RunWorker();
    EXPECT_EQ(test::ReadBytes(rig.dest + "f1.bin"), (std::vector<uint8_t>{4, 2}));
    EXPECT_EQ(rig.boxes.Texts(), Events{"Fail to copy data file, extracting process aborted!"});
    Events status = rig.dialog.TextsOf(1009);
    EXPECT_EQ(std::count(status.begin(), status.end(), "Update completed."), 0);
    EXPECT_EQ(std::count(status.begin(), status.end(), "Rollback the updated file..."), 1);
    EXPECT_FALSE(test::FileExists(rig.dest + "f0.bin"));   // the copied one went back
    EXPECT_TRUE(rig.TempRootEntries().empty());
    EXPECT_TRUE(rig.programs.starts.empty());
}

TEST(ExtractWorker, NoDestinationCopiesNothingIntoTheWorkingDirectory) {
    UpdateRig rig;
    OptionBlock opts;
    opts.FlashProgram = "f0.bin";
    opts.BiosImageName = "bios.bin";
    rig.SetOptions(opts);
    rig.SetTools(Tools(2));
    rig.resources.res[BiosPackage] = test::ImageResource(BiosPackage, {1, 2, 3});
    rig.run.DestinationFolder = "";   // start-up's temp-name call failed
    std::filesystem::create_directory(rig.dir / "cwd");
    std::filesystem::current_path(rig.dir / "cwd");
    rig.RunWorker();
    EXPECT_EQ(rig.boxes.Texts(), Events{"Fail to copy data file, extracting process aborted!"});
    EXPECT_TRUE(std::filesystem::is_empty(rig.dir / "cwd"));
    EXPECT_TRUE(rig.programs.starts.empty());
    EXPECT_TRUE(rig.TempRootEntries().empty());
}

TEST(ExtractWorker, DeleteAtEndRemovesOnlyWhatThisRunMade) {
    OptionBlock opts;
    opts.Flags = 0x1;
    {   // the default destination is made by the run and goes as a whole
        UpdateRig rig;
        rig.SetOptions(opts);
        rig.SetTools(Tools(2));
        rig.RunWorker();
        EXPECT_FALSE(test::FileExists(rig.dest));
    }
    // A folder the user chose keeps what the run did not put there; the
    // tools and the image go.
    UpdateRig rig;
    opts.FlashProgram = "f0.bin";
    opts.BiosImageName = "bios.bin";
    rig.SetOptions(opts);
    rig.SetTools(Tools(2));
    rig.resources.res[BiosPackage] = test::ImageResource(BiosPackage, {1, 2, 3});
    std::filesystem::create_directory(rig.dest);
    test::WriteBytes(rig.dest + "mine.doc", {1, 2, 3});
    rig.RunWorker();
    ASSERT_EQ(rig.programs.starts.size(), 1u);
    EXPECT_TRUE(test::FileExists(rig.dest + "mine.doc"));
    EXPECT_FALSE(test::FileExists(rig.dest + "f0.bin") || test::FileExists(rig.dest + "f1.bin"));
    EXPECT_FALSE(test::FileExists(rig.dest + "bios.bin"));
    for (const auto &l : rig.files.log) EXPECT_NE(l, "tree " + rig.dir / "dest");
}

}  // namespace
}  // namespace fwpack
