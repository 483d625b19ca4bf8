// Which names DOS without a long-name driver can create.
#include <gtest/gtest.h>

#include "tools/fwpack/manifest/dos_short_name.h"

using fwpack::IsDosShortName;

TEST(DosShortName, EightDotThreeFromTheCharactersDosAllows) {
    for (const char *name : {"x", "12345678", "ABCDEFGH.EXE", "dosflash.exe", "me.bin", "a.b",
                             "$FB~1.@@@", "!#%&'()-.^_`", "{}.~", "noext"})
        EXPECT_TRUE(IsDosShortName(name)) << name;
}

TEST(DosShortName, LongOrOddNamesAreRefused) {
    for (const char *name : {"", ".exe", "abcdefghi", "abcdefghi.exe", "a.exee", "a.b.c", "a.",
                             "a b.exe", "a+b.exe", "a,b", "a;b", "a[b].x", "a=b", "bios.rom1",
                             "c:a.exe", "a\\b.exe", "a/b.exe", "\xE9t\xE9.bin",
                             " a.exe", "a.exe ", "a*.exe", "a?.exe", "a>b", "a<b", "a|b", "a\x01.exe"})
        EXPECT_FALSE(IsDosShortName(name)) << name;
}
