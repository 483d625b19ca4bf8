// The dialog's initialisation sequence, against recording fakes.
#include <functional>

#include <gtest/gtest.h>

#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "dialog/result_log.h"
#include "dialog/message_handlers.h"
#include "dialog/startup.h"
#include "support/dialog_fakes.h"

namespace fwpack {
namespace {

using test::DialogFixture;

TEST(DialogStartupNames, ResultLogSitsNextToTheProgram) {
    EXPECT_EQ(ResultLogPathFor("C:\\pkg\\tool.rev3.exe"), "C:\\pkg\\RuvazUZUR.log");
    EXPECT_EQ(ResultLogPathFor("\\\\srv\\share\\a b\\u.exe"), "\\\\srv\\share\\a b\\RuvazUZUR.log");
    // The path is read into a 260-byte buffer: a backslash beyond it is not seen.
    std::string longPath = "C:\\" + std::string(260, 'a') + "\\" + std::string(20, 'b');
    EXPECT_EQ(ResultLogPathFor(longPath), "C:\\RuvazUZUR.log");
}

TEST(DialogStartupNames, TitleIsTheBaseNameCutAtItsLastDot) {
    EXPECT_EQ(WindowTitleFor("D:\\pkg\\tool.rev3.exe"), "tool.rev3");
    EXPECT_EQ(WindowTitleFor("D:\\pkg\\updater.exe"), "updater");
    // No dot in the base name: the whole name (a dot in a folder does not count).
    EXPECT_EQ(WindowTitleFor("D:\\v1.2\\updater"), "updater");
    EXPECT_EQ(WindowTitleFor("D:\\pkg\\.exe"), "");
    // The path is read into a 200-byte buffer, so a long one loses its end first.
    std::string longPath = "C:\\" + std::string(192, 'x') + "\\name.ext";
    EXPECT_EQ(WindowTitleFor(longPath), "nam");
}

TEST(DialogStartupNames, ArgumentTextFollowsTheRuntimeRule) {
    EXPECT_EQ(ArgumentText("\"C:\\my dir\\u.exe\" /nopause"), "/nopause");
    EXPECT_EQ(ArgumentText("\"C:\\my dir\\u.exe\"/dbg"), "/dbg");
    EXPECT_EQ(ArgumentText("u.exe \t /forceit  "), "/forceit  ");
    EXPECT_EQ(ArgumentText("u.exe\t/dbg"), "/dbg");
    EXPECT_EQ(ArgumentText("u.exe"), "");
    EXPECT_EQ(ArgumentText("\"C:\\unterminated /dbg"), "");
    // Unquoted, the name runs to the first blank even inside a folder name.
    EXPECT_EQ(ArgumentText("C:\\my dir\\u.exe /dbg"), "dir\\u.exe /dbg");
    // Bytes above 0x7F belong to the name.
    EXPECT_EQ(ArgumentText("C:\\\xE9t\xE9.exe /dbg"), "/dbg");
}

std::vector<uint8_t> OptionBytes(uint32_t flags) {
    OptionBlock block;
    block.Flags = flags;
    block.FlashProgram = "flash.exe";
    std::vector<uint8_t> body;
    EXPECT_TRUE(SerializeOptionBlock(block, body));
    return MakeTaggedResource(OptionResource, body);
}

TEST(DialogStartupSequence, ANormalStartRunsEveryStepInOrder) {
    DialogFixture f;
    f.resources.resources[OptionResource] = OptionBytes(0x2 | 0x20);
    f.files.existing = {"C:\\pkg\\RuvazUZUR.log", "C:\\TEMP\\_80D.TMP"};

    ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Ready);

    // tick 1000: 1000 x 12345 / 5987 = 2061 = 0x80D.
    const test::Log expected = {
        "delete C:\\pkg\\RuvazUZUR.log",
        "mutex Vorsa BIOS Brenvik",
        "center",
        "seticon 128 large",
        "seticon 128 small",
        "seticon 131 large",
        "title tool.rev3",
        "loadimage 132 16",
        "buttonicon 1002 1132",
        "deletetree C:\\TEMP\\_80D.TMP",
        "text 1006 C:\\TEMP\\_80D.TMP\\",
        "show",
        "settimer 8888 100",
    };
    EXPECT_EQ(f.log, expected);
    EXPECT_EQ(f.run.ResultLogPath, "C:\\pkg\\RuvazUZUR.log");
    EXPECT_EQ(f.run.WindowTitle, "tool.rev3");
    EXPECT_EQ(f.run.DestinationFolder, "C:\\TEMP\\_80D.TMP\\");
    EXPECT_EQ(f.run.Options.OptionWord, 0x22u);
    EXPECT_TRUE(f.run.Options.NoPause);
    EXPECT_EQ(f.run.OptionCopy.FlashProgram(), "flash.exe");
    EXPECT_EQ(f.ui.LargeIcon, 131u);
    EXPECT_EQ(f.ui.BrowseIcon, 1132u);
    EXPECT_FALSE(f.ui.WorkerStarted);
}

TEST(DialogStartupSequence, NoOptionResourceHidesTheWindowAndStillArmsTheTimer) {
    DialogFixture f;
    f.clock.tick = 200000;   // the product wraps negative: -304988, low 16 bits 0x58A4
    ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Ready);
    EXPECT_TRUE(f.Logged("hide"));
    EXPECT_FALSE(f.Logged("show"));
    EXPECT_TRUE(f.Logged("settimer 8888 100"));
    EXPECT_EQ(f.run.Options.OptionWord, 0u);
    EXPECT_EQ(f.run.OptionCopy.FlashProgram(), "");
    EXPECT_EQ(f.run.DestinationFolder, "C:\\TEMP\\_58A4.TMP\\");
    // Nothing existed under the new name: nothing deleted as a tree.
    EXPECT_EQ(f.Count("deletetree"), 0u);
}

TEST(DialogStartupSequence, SwitchesAddToTheFlagsButNeverClearThem) {
    DialogFixture f;
    f.resources.resources[OptionResource] = OptionBytes(0x4 | 0x40);
    f.program.commandLine = "\"C:\\pkg\\tool.rev3.exe\" /NoPause/dbg";
    ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Ready);
    EXPECT_TRUE(f.run.Options.Factory);
    EXPECT_TRUE(f.run.Options.NoReboot);
    EXPECT_TRUE(f.run.Options.NoPause);
    EXPECT_TRUE(f.run.Options.DebugBoxes);
    EXPECT_FALSE(f.run.Options.ForceIt);
}

TEST(DialogStartupSequence, ASecondInstanceLeavesTheResultLogAndExits) {
    DialogFixture f;
    f.program.mutexExists = true;
    ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Exit);
    const test::Log expected = {
        "delete C:\\pkg\\RuvazUZUR.log",
        "mutex Vorsa BIOS Brenvik",
        "box Application has existed! | Stop | 48",
        "profile C:\\pkg\\RuvazUZUR.log [RUVAZUZUR] FlashResult=1",
    };
    EXPECT_EQ(f.log, expected);
}

TEST(DialogStartupSequence, NoInstanceHandleShowsAnUntitledErrorBox) {
    DialogFixture f;
    f.program.instance = false;
    ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Exit);
    EXPECT_TRUE(f.Logged("box Could not get instance handle |  | 16"));
    EXPECT_TRUE(f.Logged("profile C:\\pkg\\RuvazUZUR.log [RUVAZUZUR] FlashResult=1"));
    EXPECT_EQ(f.Count("title"), 0u);
    EXPECT_EQ(f.Count("settimer"), 0u);
}

TEST(DialogStartupSequence, ABadCommandLineExitsWithoutAResultLog) {
    for (const char *args : {" /forceitx", " /nopause -dbg", " \"/dbg\"", " /"}) {
        SCOPED_TRACE(args);
        DialogFixture f;
        f.program.commandLine = std::string("\"C:\\pkg\\tool.rev3.exe\"") + args;
        ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Exit);
        EXPECT_TRUE(f.Logged("box The command line parameter is not correct. | Bad CommandLine | 48"));
        EXPECT_EQ(f.Count("profile"), 0u);
        EXPECT_EQ(f.Count("settimer"), 0u);
        // The old log was deleted before the check; nothing brings it back.
        EXPECT_EQ(f.log.front(), "delete C:\\pkg\\RuvazUZUR.log");
    }
}

// With "/log=PATH" and "/exitcodes" the early exits say what happened, in
// the log and in the exit status; without them the status stays 0.
TEST(DialogStartupSequence, EarlyExitsAreLoggedAndGetTheirDeploymentCodes) {
    struct Case {
        const char *name;
        std::function<void(DialogFixture &)> arrange;
        const char *logged;
        int code;
    };
    const Case cases[] = {
        {"second instance", [](DialogFixture &f) { f.program.mutexExists = true; },
         "another instance is running", 1618},
        {"no instance handle", [](DialogFixture &f) { f.program.instance = false; },
         "no instance handle", 1603},
        {"bad command line", [](DialogFixture &f) { f.program.commandLine += " /what"; },
         "the command line is not valid", 87},
    };
    for (const Case &c : cases) {
        for (bool codes : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (codes ? " /exitcodes" : ""));
            DialogFixture f;
            f.program.commandLine += " /log=\"C:\\my logs\\run.log\"";
            if (codes) f.program.commandLine += " /exitcodes";
            c.arrange(f);
            ASSERT_EQ(RunStartupSequence(f.context), StartupResult::Exit);
            EXPECT_EQ(ExitStatusAtEnd(f.context, 0), codes ? c.code : 0);
            EXPECT_EQ(f.logFile.openedPath, "C:\\my logs\\run.log");
            const auto &lines = f.logFile.lines;
            ASSERT_GE(lines.size(), 5u);
            EXPECT_EQ(lines[0], "fwpack updater " FWPACK_VERSION " started");
            EXPECT_EQ(lines[1], "program file: C:\\pkg\\tool.rev3.exe");
            EXPECT_EQ(lines[2], "command line: " + f.program.commandLine);
            EXPECT_TRUE(f.logFile.Has(c.logged));
            EXPECT_EQ(f.logFile.Find("box shown:"), -1);   // the fixture's boxes are not logged
            EXPECT_EQ(lines.back(), "outcome: " +
                                        std::string(OutcomeText(f.run.Outcome.load())) +
                                        "; exit status " + std::to_string(codes ? c.code : 0));
        }
    }
}

// A log that cannot be opened, or whose writes fail, changes nothing.
TEST(DialogStartupSequence, AnUnwritableLogChangesNothing) {
    for (bool failOpen : {true, false}) {
        DialogFixture plain, logged;
        plain.resources.resources[OptionResource] = std::vector<uint8_t>(16 + 4, 0);
        logged.resources.resources = plain.resources.resources;
        logged.program.commandLine += " /log=Z:\\none\\run.log";
        logged.logFile.failOpen = failOpen;
        logged.logFile.failWrites = true;
        ASSERT_EQ(RunStartupSequence(plain.context), StartupResult::Ready);
        ASSERT_EQ(RunStartupSequence(logged.context), StartupResult::Ready);
        EXPECT_EQ(plain.log, logged.log);
        EXPECT_FALSE(logged.run.Log.On());
        // A failed write turns the log off: one attempt, not one per line.
        EXPECT_EQ(logged.logFile.writes, failOpen ? 0 : 1);
    }
}

}  // namespace
}  // namespace fwpack
