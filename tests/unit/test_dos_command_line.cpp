// The Linux layer runs the DOS tools' command lines without a shell: words
// split at spaces, "> name" done by the layer, every other character kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "platform/posix/dos_platform_linux.h"
#include "support/test_files.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

using Words = std::vector<std::string>;

std::string ReadText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder as the current directory, with a program that prints each of
// its arguments on a line.
class DosCommandRun : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override { std::filesystem::current_path(saved_); }
    void Program(const std::string &name) {
        std::ofstream(name) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done\n";
        ::chmod(name.c_str(), 0755);
    }

    TempDir dir_;
    LinuxDosPlatform platform;

  private:
    std::filesystem::path saved_;
};

}  // namespace

TEST(DosCommandLine, WordsAreSplitAtSpacesAndATrailingRedirectionIsTakenOff) {
    DosCommand c = ParseDosCommandLine("flash.exe bios.bin  /P /B /N");
    EXPECT_EQ(c.Words, (Words{"flash.exe", "bios.bin", "/P", "/B", "/N"}));
    EXPECT_EQ(c.Output, "");

    c = ParseDosCommandLine("meinfo.exe > me.log");
    EXPECT_EQ(c.Words, Words{"meinfo.exe"});
    EXPECT_EQ(c.Output, "me.log");

    c = ParseDosCommandLine(" > me.log");   // no program named
    EXPECT_EQ(c.Words, Words{});
    EXPECT_EQ(c.Output, "me.log");

    // Only a ">" word before the last one redirects.
    c = ParseDosCommandLine("a>b > c d");
    EXPECT_EQ(c.Words, (Words{"a>b", ">", "c", "d"}));
    EXPECT_EQ(c.Output, "");
    c = ParseDosCommandLine("  ");
    EXPECT_TRUE(c.Words.empty());
}

TEST_F(DosCommandRun, ShellCharactersReachTheProgramAsTheyAre) {
    const std::string name = "t;o&u|c$h`x'y\"(z).exe";
    Program(name);
    EXPECT_EQ(platform.RunCommand((name + " a;touch${IFS}pwned $HOME 'q' \"r\" `id` * > out.log").c_str()), 0);
    EXPECT_EQ(ReadText("out.log"), "a;touch${IFS}pwned\n$HOME\n'q'\n\"r\"\n`id`\n*\n");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(DosCommandRun, ResultsAreThoseOfTheProgramOrOfAShell) {
    std::ofstream("fails.exe") << "#!/bin/sh\nexit 5\n";
    ::chmod("fails.exe", 0755);
    EXPECT_EQ(platform.RunCommand("fails.exe x"), 5);
    EXPECT_EQ(platform.RunCommand("missing.exe x > out.log"), 127);
    EXPECT_TRUE(std::filesystem::exists("out.log"));   // made before the program is looked for
    std::ofstream("plain.bin") << "data";
    EXPECT_EQ(platform.RunCommand("plain.bin"), 126);
    EXPECT_EQ(platform.RunCommand(" > empty.log"), 0);
    EXPECT_TRUE(std::filesystem::exists("empty.log"));
    std::filesystem::create_directory("dir.log");
    Program("echo.exe");
    EXPECT_EQ(platform.RunCommand("echo.exe x > dir.log"), 1);
}
