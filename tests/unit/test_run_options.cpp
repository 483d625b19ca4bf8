// Run options: the switch parser, the flag bits and the word sent to the
// flash program; and the shared name and folder helpers of the shell.
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/posix/posix_files.h"
#include "run/folder_tree.h"
#include "run/run_options.h"
#include "run/temp_names.h"
#include "support/test_files.h"
#include "support/update_fakes.h"

namespace fwpack {
namespace {

struct Parsed {
    bool valid;
    RunOptions o;
};
Parsed Parse(std::string_view text) {
    Parsed p{};
    p.valid = ParseCommandLine(p.o, text);
    return p;
}

TEST(ParseCommandLine, ValidTexts) {
    for (const char *text : {"", "    ", "/FORCEIT", "/NoPause", "/NOREBOOT", "/Debug", "/DBG",
                             "/forceit/nopause", "/forceit /nopause", "/forceit\t/noreboot",
                             "\t/dbg", "  /nopause   "})
        EXPECT_TRUE(Parse(text).valid) << "[" << text << "]";
    EXPECT_FALSE(Parse("").o.ForceIt || Parse("   ").o.NoPause);

    Parsed both = Parse("/forceit/nopause");
    EXPECT_TRUE(both.o.ForceIt && both.o.NoPause && !both.o.NoReboot && !both.o.DebugBoxes);
    // "nopause" is tried first but does not shadow "noreboot", nor "debug" "dbg".
    Parsed nr = Parse("/noreboot");
    EXPECT_TRUE(nr.o.NoReboot && !nr.o.NoPause);
    EXPECT_TRUE(Parse("/dbg").o.DebugBoxes);
    EXPECT_TRUE(Parse("/DeBuG").o.DebugBoxes);
}

TEST(ParseCommandLine, InvalidTexts) {
    for (const char *text : {"/forceitx", "/debugger", "/nopauseX", "/", "/ forceit", "forceit",
                             "-forceit", "\"/forceit\"", "/forceit,", "/no", "/nopause \v"})
        EXPECT_FALSE(Parse(text).valid) << "[" << text << "]";
    // Switches before the offending character stay set.
    Parsed p = Parse("/forceit x");
    EXPECT_FALSE(p.valid);
    EXPECT_TRUE(p.o.ForceIt);
}

// The admin's switches: a value that ends at a space or tab unless quoted,
// keywords as loose as the old ones, and nothing of the old switches read
// differently.
TEST(ParseCommandLine, AdminSwitches) {
    Parsed p = Parse("/nopause /LOG=C:\\logs\\run.log/noreboot /ExitCodes");
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.o.LogPath, "C:\\logs\\run.log/noreboot");
    EXPECT_TRUE(p.o.ExitCodes && p.o.NoPause && !p.o.NoReboot);
    Parsed quoted = Parse("/log=\"C:\\my logs\\run 1.log\"/dbg\t/log=\"D:\\b.log\"");
    EXPECT_TRUE(quoted.valid);
    EXPECT_EQ(quoted.o.LogPath, "D:\\b.log");   // the last one counts
    EXPECT_TRUE(quoted.o.DebugBoxes);
    EXPECT_EQ(Parse("/log=a.log\t/forceit").o.LogPath, "a.log");
    EXPECT_EQ(Parse("/exitcodes").o.OptionWord, 0u);

    for (const char *text : {"/log", "/log=", "/log= a.log", "/log=\"\"", "/log=\"open",
                             "/exitcodesX", "/exit", "/logfile=a", "/log:a.log", "/exitcodes -x"})
        EXPECT_FALSE(Parse(text).valid) << "[" << text << "]";

    // Read ahead of the whole check: what stands before an invalid item,
    // and "/exitcodes" anywhere.
    RunOptions early = AdminSwitches("/log=a.log /bogus /exitcodes");
    EXPECT_EQ(early.LogPath, "a.log");
    EXPECT_TRUE(early.ExitCodes);
    EXPECT_FALSE(AdminSwitches("/nopause /noreboot").ExitCodes);
    EXPECT_FALSE(AdminSwitches("/nopause").NoPause);
}

TEST(RunOptions, FlagsBecomeBooleansAndSwitchesOnlyAddBits) {
    RunOptions o;
    ApplyOptionFlags(o, 0x4 | 0x8 | 0x20 | 0x40 | 0x1 | 0x2 | 0x20000);
    EXPECT_TRUE(o.Factory && o.ForceIt && o.NoPause && o.NoReboot);
    EXPECT_FALSE(o.DebugBoxes);   // bit 0x20000 alone shows no wait boxes
    RunOptions keep;
    keep.NoPause = true;
    ApplyOptionFlags(keep, 0);
    EXPECT_TRUE(keep.NoPause);

    // Flags 0x3 with /nopause and /debug: 00020023.
    RunOptions w;
    w.OptionWord = 0x3;
    ApplyOptionFlags(w, w.OptionWord);
    ASSERT_TRUE(ParseCommandLine(w, "/nopause /debug"));
    PackOptionWord(w);
    EXPECT_EQ(w.OptionWord, 0x20023u);
    PackOptionWord(w);
    EXPECT_EQ(w.OptionWord, 0x20023u);

    RunOptions all;
    all.OptionWord = 0xFFFF0000u;
    ASSERT_TRUE(ParseCommandLine(all, "/forceit/noreboot/dbg"));
    PackOptionWord(all);
    EXPECT_EQ(all.OptionWord, 0xFFFF0048u);
}

TEST(TempNames, UniqueNumberAndScratchNames) {
    EXPECT_EQ(UniqueTempNumber(0), 0u);
    EXPECT_EQ(UniqueTempNumber(1000), 12345000u / 5987);
    // 200000 x 12345 wraps to a negative signed product; the division
    // truncates toward zero.
    int32_t wrapped = int32_t(200000u * 12345u);
    ASSERT_LT(wrapped, 0);
    EXPECT_EQ(UniqueTempNumber(200000), uint32_t(wrapped / 5987));
    EXPECT_EQ(int32_t(UniqueTempNumber(200000)), -304988);   // -1825967296 / 5987

    EXPECT_EQ(ScratchNameA("/t/", 0xABC), "/t/00000ABC");
    EXPECT_EQ(ScratchNameB("/t/", 1000), "/t/00000586");   // 12345000 / 8725 = 1414
    EXPECT_EQ(ScratchNameB("/t/", 0xFFFFFFFFu), "/t/000782E2");   // (2^32 - 12345) / 8725 = 492258
}

TEST(TempNames, FolderNameFormsOneLevelBelowTheRootOrNothing) {
    test::TempDir dir;
    std::string root = dir.path() + "/";
    test::RecordingFiles files(root);
    test::FakeClock clock;
    clock.tick = 1000 - 17;   // the next reading is 1000: unique 12345000 / 5987 = 0x80D
    EXPECT_EQ(TempFolderName(files, clock, root, "0$_$_"), root + "0$_80D.TMP/");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));   // nothing made

    files.fail = [](const std::string &op, const std::string &) { return op == "tempname"; };
    EXPECT_EQ(TempFolderName(files, clock, root, "_"), "");
    EXPECT_EQ(TempFolderName(files, clock, "", "_"), "");
}

TEST(DeleteFolderTree, TrailingSeparatorMissingPathAndLimit) {
    test::TempDir dir;
    test::RecordingFiles files(dir.path());
    std::string folder = dir / "tree";
    std::filesystem::create_directories(folder + "/a/b");
    test::WriteBytes(folder + "/a/b/f", {1, 2});
    test::WriteBytes(dir / "keep", {3});
    EXPECT_TRUE(DeleteFolderTree(files, folder + "/"));
    EXPECT_FALSE(test::FileExists(folder));
    EXPECT_TRUE(test::FileExists(dir / "keep"));
    EXPECT_EQ(files.log, std::vector<std::string>{"tree " + folder});

    files.log.clear();
    EXPECT_TRUE(DeleteFolderTree(files, folder + "/"));   // gone: success, no delete
    EXPECT_TRUE(DeleteFolderTree(files, ""));
    EXPECT_TRUE(files.log.empty());
    // A path that would be cut by its 260-byte buffer is refused.
    EXPECT_FALSE(DeleteFolderTree(files, dir.path() + "/" + std::string(260, 'x')));
    EXPECT_TRUE(files.log.empty());
}

}  // namespace
}  // namespace fwpack
