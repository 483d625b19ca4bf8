// The UEFI side's status file (what the shell's echo of %lasterror% wrote)
// and which names each platform runs as programs. The status reader is
// freestanding, so the host compiles it too.
#include <gtest/gtest.h>

#include <string>

#include "platform/dos_platform.h"
#include "platform/uefi/status_text.cpp"

namespace fwpack {
namespace {

// The shell's redirected echo: UCS-2 after the byte-order mark.
std::string Wide(const std::u16string &text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += std::string{char(c & 0xFF), char(c >> 8)};
    return bytes;
}

bool Read(const std::string &bytes, uint64_t &status) {
    return ReadStatusText(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), status);
}

TEST(UefiStatusText, TheShellsHexInEitherForm) {
    uint64_t status = 99;
    ASSERT_TRUE(Read(Wide(u"0x0\r\n"), status));
    EXPECT_EQ(status, 0u);
    ASSERT_TRUE(Read(Wide(u"0xE\r\n"), status));
    EXPECT_EQ(status, 14u);
    ASSERT_TRUE(Read("0x1f", status));
    EXPECT_EQ(status, 31u);
    ASSERT_TRUE(Read(Wide(u"0x8000000000000003"), status));
    EXPECT_EQ(status, 0x8000000000000003u);
}

// Nothing that is not a whole status counts as one: the caller then fails
// the tool's step rather than guess.
TEST(UefiStatusText, AnythingElseIsNoStatus) {
    uint64_t status = 0;
    for (const std::string &text : {std::string(), Wide(u""), Wide(u"0x"), Wide(u"x7"), std::string("7\r\n"),
                                    Wide(u"0x12345678901234567"), Wide(u"\u01300x1"), std::string("\xFF\xFE" "0", 3)})
        EXPECT_FALSE(Read(text, status)) << text;
    // A unit above 0xFF ends the digits, as any other character does.
    ASSERT_TRUE(Read(Wide(u"0x2\u0131"), status));
    EXPECT_EQ(status, 2u);
}

TEST(ProgramNames, EachPlatformsList) {
    for (const char *name : {"FLASH.EFI", "meinfo.nsh", "x.Efi"}) {
        EXPECT_TRUE(HasProgramExtension(name, kUefiProgramExtensions)) << name;
        EXPECT_FALSE(HasProgramExtension(name, kDosProgramExtensions)) << name;
    }
    for (const char *name : {"FLASH.EXE", "a.com", "run.Bat"}) {
        EXPECT_TRUE(HasProgramExtension(name, kDosProgramExtensions)) << name;
        EXPECT_FALSE(HasProgramExtension(name, kUefiProgramExtensions)) << name;
    }
    for (const char *name : {"bios.bin", "EFI", "flash.efix", "flashefi", "a.ef"})
        EXPECT_FALSE(HasProgramExtension(name, kUefiProgramExtensions)) << name;
}

}  // namespace
}  // namespace fwpack
