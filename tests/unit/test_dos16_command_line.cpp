// How the DOS layer splits the command lines the updater builds. The file
// is freestanding, so the host compiles it too.
#include <gtest/gtest.h>

#include <string>

#include "platform/dos16/command_line.cpp"

namespace fwpack {
namespace {

struct Split {
    std::string Program, Arguments, Output;
    bool HasProgram, HasOutput;
};

Split Of(std::string text) {
    Dos16Command c = SplitDos16CommandLine(text.data());
    return {c.Program ? c.Program : "", c.Arguments, c.Output ? c.Output : "", c.Program != nullptr,
            c.Output != nullptr};
}

TEST(Dos16CommandLine, ProgramTailAndTrailingOutputFile) {
    Split s = Of("MEINFO.EXE -fwsts > me.log");
    EXPECT_EQ(s.Program, "MEINFO.EXE");
    EXPECT_EQ(s.Arguments, "-fwsts");
    EXPECT_EQ(s.Output, "me.log");

    s = Of("  DOSFLASH.EXE   BIOS.BIN /P /B   ");
    EXPECT_EQ(s.Program, "DOSFLASH.EXE");
    EXPECT_EQ(s.Arguments, "BIOS.BIN /P /B");
    EXPECT_FALSE(s.HasOutput);

    s = Of("MEINFO.EXE > me.log");
    EXPECT_EQ(s.Arguments, "");
    EXPECT_EQ(s.Output, "me.log");
}

TEST(Dos16CommandLine, OnlyALoneArrowBeforeTheLastWordRedirects) {
    Split s = Of("TOOL a>b");           // part of a word
    EXPECT_EQ(s.Arguments, "a>b");
    EXPECT_FALSE(s.HasOutput);
    s = Of("TOOL x >> log");            // not a lone '>'
    EXPECT_EQ(s.Arguments, "x >> log");
    EXPECT_FALSE(s.HasOutput);
    s = Of("TOOL x >");                 // no file after it
    EXPECT_EQ(s.Arguments, "x >");
    EXPECT_FALSE(s.HasOutput);
    s = Of("TOOL >");                   // the arrow is the whole tail
    EXPECT_EQ(s.Arguments, ">");
    EXPECT_FALSE(s.HasOutput);
}

TEST(Dos16CommandLine, EmptyLines) {
    EXPECT_FALSE(Of("").HasProgram);
    EXPECT_FALSE(Of("    ").HasProgram);
    Split s = Of("TOOL");
    EXPECT_EQ(s.Program, "TOOL");
    EXPECT_EQ(s.Arguments, "");
}

}  // namespace
}  // namespace fwpack
