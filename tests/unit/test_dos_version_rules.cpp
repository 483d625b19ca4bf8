// BIOS version ordering and the ME version readers and comparison.
#include <gtest/gtest.h>

#include <string>

#include "dos/bios_version.h"
#include "dos/me_version.h"
#include "payload/bytes.h"
#include "payload/dos_limits.h"
#include "platform/dos_platform.h"
#include "platform/posix/posix_dos_files.h"
#include "support/dos_package.h"
#include "support/test_files.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {
class StringConsole : public DosConsole {
  public:
    void Write(const char *text, size_t length) override { out.append(text, length); }
    std::string out;
};
PosixDosFiles files;
// The image searched through a buffer of the updater's transfer size.
bool NewMeVersion(const std::string &path, MeVersion &v, DosConsole &console) {
    std::vector<uint8_t> buffer(kDosTransferSize);
    return GetNewMEVersion(path.c_str(), v, files, console, buffer.data(), buffer.size());
}
void WriteText(const std::string &path, const std::string &text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}
std::string FwLine(const std::string &version, const std::string &end = "\n") {
    std::string line = "FW Version:";
    line.resize(40, ' ');
    return line + version + end;
}
}  // namespace

TEST(DosBiosVersion, LettersRankAAboveXAboveTAndDigits) {
    struct Case { const char *n, *o; int r; } cases[] = {
        {"A06", "A05", 1}, {"A05", "A05", 0}, {"A05", "A06", -1},
        {"X01", "A05", -1}, {"A01", "X09", 1}, {"X01", "T09", 1}, {"X01", "1.0.5", 1},
        {"A01", "T09", 1}, {"A01", "1.0.5", 1}, {"T09", "A01", -1}, {"1.0.5", "A01", -1},
        {"T01", "X01", -1}, {"1.0.5", "X01", -1}, {"X02", "X01", 1}, {"T01", "T02", -1},
        {"T01", "1.0.5", 0}, {"1.0.5", "T01", 0},
    };
    for (const Case &c : cases) EXPECT_EQ(CompareBiosVersion(c.n, c.o), c.r) << c.n << " vs " << c.o;
}

TEST(DosBiosVersion, UnusableVersionsAreReportedForTheRightSide) {
    EXPECT_EQ(CompareBiosVersion("1.1", "1.0.5"), -3);
    EXPECT_EQ(CompareBiosVersion("1.0.5", "1.1"), -2);
    EXPECT_EQ(CompareBiosVersion("A6", "A05"), -3);
    EXPECT_EQ(CompareBiosVersion("A05", "A6"), -2);
    EXPECT_EQ(CompareBiosVersion("", "A05"), -3);
    EXPECT_EQ(CompareBiosVersion("A05", ""), -2);
    EXPECT_EQ(CompareBiosVersion("B05", "A05"), -3);   // letters other than A, X, T
    EXPECT_EQ(CompareBiosVersion("a05", "A05"), -3);
    EXPECT_EQ(CompareBiosVersion("A05", "-1.0.5"), -2);
    // Lengths are tested on both sides before the first letters.
    EXPECT_EQ(CompareBiosVersion("B05", ""), -2);
}

TEST(DosBiosVersion, DigitFormsComparePartsAsNumbers) {
    EXPECT_EQ(CompareBiosVersion("1.0.10", "1.0.9"), 1);
    EXPECT_EQ(CompareBiosVersion("1.0.9", "1.0.10"), -1);
    EXPECT_EQ(CompareBiosVersion("2.0.0", "1.9.9"), 1);
    EXPECT_EQ(CompareBiosVersion("1.0.5", "1.0.5"), 0);
    EXPECT_EQ(CompareBiosVersion("1.0.5", "1.0.5.1"), -4);
    EXPECT_EQ(CompareDigitVersion("1.2", "1.2.0"), -4);
    EXPECT_EQ(CompareDigitVersion("01.02", "1.2"), 0);
    // Only three characters of a part count, and only three parts.
    EXPECT_EQ(CompareDigitVersion("1.0.1234", "1.0.1239"), 0);
    EXPECT_EQ(CompareDigitVersion("1.0.5.9", "1.0.5.1"), 0);
}

TEST(DosMeVersion, VerStrtoIntSplitsIntoFourBoundedParts) {
    MeVersion v{};
    VerStrtoInt("8.1.0.1057", v);
    EXPECT_EQ(v, (MeVersion{8, 1, 0, 1057}));
    VerStrtoInt("11.8", v);
    EXPECT_EQ(v, (MeVersion{11, 8, 0, 0}));
    VerStrtoInt("", v);
    EXPECT_EQ(v, (MeVersion{0, 0, 0, 0}));
    VerStrtoInt("1234567.2.3.4.5", v);   // five characters a part; a fifth part is ignored
    EXPECT_EQ(v, (MeVersion{12345, 2, 3, 4}));
    VerStrtoInt("7.6.5.4\r", v);
    EXPECT_EQ(v, (MeVersion{7, 6, 5, 4}));
}

TEST(DosMeVersion, CurrentVersionComesFromIndex40OfTheFirstFwVersionLine) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    WriteText(dir / "me.log", "Engine query tool\nFW Version is below\n" + FwLine("8.1.0.1057") +
                                  FwLine("9.9.9.9"));
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{8, 1, 0, 1057}));

    // The last character is taken for the line end, even when it is not one.
    WriteText(dir / "me.log", FwLine("8.1.0.1057", ""));
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{8, 1, 0, 105}));

    // A line of 41 characters gives an empty text: version 0.0.0.0.
    WriteText(dir / "me.log", FwLine("x"));
    v = {1, 1, 1, 1};
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{0, 0, 0, 0}));
    EXPECT_EQ(console.out, "");
}

// The log is read in lines of at most 255 characters: a longer line goes on
// as a line of its own, and lines that straddle the reader's buffer are whole.
TEST(DosMeVersion, LongLinesAndBufferBordersInTheLog) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    WriteText(dir / "me.log", std::string(255, 'x') + FwLine("3.2.1.0"));
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{3, 2, 1, 0}));

    WriteText(dir / "me.log", std::string(254, 'x') + FwLine("3.2.1.0"));   // one line
    EXPECT_FALSE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));

    for (size_t pad : {400, 500, 511, 512, 1023}) {
        std::string log;
        while (log.size() + 100 < pad) log += std::string(99, 'y') + "\n";
        log += std::string(pad - log.size(), 'z') + "\n" + FwLine("4.5.6.7");
        WriteText(dir / "me.log", log);
        v = {};
        ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console)) << pad;
        EXPECT_EQ(v, (MeVersion{4, 5, 6, 7})) << pad;
    }
}

// The UEFI shell writes a redirected log as UCS-2 little-endian behind the
// byte-order mark FF FE: each unit is one character (above 0xFF a '?'),
// with the same line rules; a plain log that merely starts with 0xFF stays
// plain.
TEST(DosMeVersion, AShellLogInUcs2IsReadAsItsCharacters) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    auto wide = [](const std::u16string &text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text) bytes += std::string{char(c & 0xFF), char(c >> 8)};
        return bytes;
    };
    const std::string fw = FwLine("11.8.50.3400", "\r\n");
    const std::u16string fwWide(fw.begin(), fw.end());
    WriteText(dir / "me.log", wide(u"ME tool \u2013 query\r\n" + fwWide + u"FW Version: later\r\n"));
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{11, 8, 50, 3400}));

    // Lines of 255 characters, and units across the reader's 512-byte pieces.
    for (size_t pad : {255, 300, 509, 510, 511}) {
        WriteText(dir / "me.log", wide(std::u16string(pad, u'x') + u"\n" + fwWide));
        v = {};
        ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console)) << pad;
        EXPECT_EQ(v, (MeVersion{11, 8, 50, 3400})) << pad;
    }
    // A unit above 0xFF is no letter of the prefix.
    WriteText(dir / "me.log", wide(u"F\u0157 Version:" + fwWide.substr(11)));
    EXPECT_FALSE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));

    WriteText(dir / "me.log", "\xFF\n" + FwLine("1.2.3.4"));
    ASSERT_TRUE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(v, (MeVersion{1, 2, 3, 4}));
    // A log of the mark alone holds no version.
    WriteText(dir / "me.log", "\xFF\xFE");
    EXPECT_FALSE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
}

TEST(DosMeVersion, CurrentVersionFailuresPrintTheReadersMessages) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    EXPECT_FALSE(GetCurMEVersion((dir / "missing.log").c_str(), v, files, console));
    EXPECT_EQ(console.out, "Can't open ME log file.\n");
    console.out.clear();
    WriteText(dir / "me.log", "fw version: 1.2.3.4\n FW Version: 1.2.3.4\n");
    EXPECT_FALSE(GetCurMEVersion((dir / "me.log").c_str(), v, files, console));
    EXPECT_EQ(console.out, "There is not FW version in log file.\n");
}

TEST(DosMeVersion, NewVersionIsReadBehindTheFirstMarker) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    std::vector<uint8_t> image = MeImage(11, 8, 50, 3425);
    std::vector<uint8_t> second = MeImage(12, 0, 0, 1, 64);
    image.insert(image.end(), second.begin(), second.end());
    WriteBytes(dir / "me.bin", image);
    ASSERT_TRUE(NewMeVersion(dir / "me.bin", v, console));
    EXPECT_EQ(v, (MeVersion{11, 8, 50, 3425}));
    FixedText<kMeVersionTextRoom> text;
    MeVersionText(v, text);
    EXPECT_STREQ(text.CStr(), "11.8.50.3425");

    std::vector<uint8_t> atZero = {'$', 'M', 'N', '2', 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0};
    WriteBytes(dir / "me.bin", atZero);
    ASSERT_TRUE(NewMeVersion(dir / "me.bin", v, console));
    EXPECT_EQ(v, (MeVersion{1, 2, 3, 4}));
    EXPECT_EQ(console.out, "");
}

// The image is read in 64 KiB pieces: a marker, or its words, across a
// piece border is found as anywhere else, and so is a marker after a "$MN"
// that ends one piece.
TEST(DosMeVersion, NewVersionAcrossReadBorders) {
    TempDir dir;
    StringConsole console;
    constexpr size_t kPiece = kDosTransferSize;
    for (size_t at = kPiece - 16; at <= kPiece + 1; ++at) {
        std::vector<uint8_t> image(3 * kPiece, '#');
        image[kPiece - 3] = '$', image[kPiece - 2] = 'M', image[kPiece - 1] = 'N';   // a near miss
        const uint8_t marker[16] = {'$', 'M', 'N', '2', 0, 0, 0, 0, 9, 0, 8, 0, 7, 0, 6, 0};
        std::copy(marker, marker + 16, image.begin() + long(at));
        WriteBytes(dir / "me.bin", image);
        MeVersion v{};
        EXPECT_TRUE(NewMeVersion(dir / "me.bin", v, console)) << at;
        EXPECT_EQ(v, (MeVersion{9, 8, 7, 6})) << at;
    }
    // The marker far into a large image.
    std::vector<uint8_t> large(5 * kPiece + 123, '$');
    std::vector<uint8_t> image = MeImage(1, 2, 3, 4, 64);
    large.insert(large.end(), image.begin(), image.end());
    WriteBytes(dir / "me.bin", large);
    MeVersion v{};
    EXPECT_TRUE(NewMeVersion(dir / "me.bin", v, console));
    EXPECT_EQ(v, (MeVersion{1, 2, 3, 4}));
    EXPECT_EQ(console.out, "");
}

TEST(DosMeVersion, NewVersionFailures) {
    TempDir dir;
    StringConsole console;
    MeVersion v{};
    EXPECT_FALSE(NewMeVersion(dir / "none.bin", v, console));
    EXPECT_EQ(console.out, "Bin file do not exist.\n");

    console.out.clear();
    WriteBytes(dir / "me.bin", std::vector<uint8_t>(1000, '$'));
    EXPECT_FALSE(NewMeVersion(dir / "me.bin", v, console));
    EXPECT_EQ(console.out, "\nCan't find the flag '$MN2' in bin file!");

    console.out.clear();
    WriteBytes(dir / "me.bin", MeImage(0, 0, 0, 0));
    EXPECT_FALSE(NewMeVersion(dir / "me.bin", v, console));

    // A marker whose words would lie past the end of the image.
    std::vector<uint8_t> cut = {'x', '$', 'M', 'N', '2', 0, 0, 0, 0, 1, 0, 2, 0, 3, 0};
    WriteBytes(dir / "me.bin", cut);
    EXPECT_FALSE(NewMeVersion(dir / "me.bin", v, console));
    EXPECT_EQ(console.out, "");
}

TEST(DosMeVersion, CompareGivesTwoOnlyForANewerImage) {
    EXPECT_EQ(CompareMEVersion({11, 8, 50, 3400}, {11, 8, 50, 3425}), 2);
    EXPECT_EQ(CompareMEVersion({11, 8, 50, 3425}, {11, 8, 50, 3400}), 1);
    EXPECT_EQ(CompareMEVersion({11, 8, 50, 3425}, {11, 8, 50, 3425}), 0);
    EXPECT_EQ(CompareMEVersion({11, 9, 0, 0}, {12, 0, 0, 0}), 2);
    EXPECT_EQ(CompareMEVersion({12, 0, 0, 0}, {11, 65535, 65535, 65535}), 1);
    EXPECT_EQ(CompareMEVersion({0, 0, 0, 0}, {0, 0, 0, 1}), 2);
}
