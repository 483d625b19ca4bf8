// The DOS updater's fixed texts: appends that do not fit are refused whole,
// numbers in decimal and hexadecimal, and the byte order of texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dos/text.h"

using namespace fwpack;

namespace {
std::string Str(const TextBuilder &text) { return std::string(text.CStr(), text.Length()); }
}  // namespace

TEST(DosText, AnAppendThatDoesNotFitIsRefusedWholeAndMarksTheText) {
    FixedText<8> text;   // 7 characters and the NUL
    text.Append("abc").Append("defg");
    EXPECT_EQ(Str(text), "abcdefg");
    EXPECT_FALSE(text.Overrun());
    EXPECT_EQ(text.CStr()[7], '\0');

    text.Append('h');   // one past the room
    EXPECT_EQ(Str(text), "abcdefg");
    EXPECT_TRUE(text.Overrun());

    text.Clear();
    EXPECT_EQ(Str(text), "");
    EXPECT_FALSE(text.Overrun());
    text.Append("abcd").Append("efghij").Append("xy");   // the middle piece is too long
    EXPECT_EQ(Str(text), "abcdxy");
    EXPECT_TRUE(text.Overrun());

    FixedText<1> none;   // room for the NUL only
    none.Append("");
    EXPECT_FALSE(none.Overrun());
    none.Append('x');
    EXPECT_TRUE(none.Overrun());
    EXPECT_STREQ(none.CStr(), "");
}

TEST(DosText, TextsMayHoldNulBytesAndEveryCharacter) {
    FixedText<16> text;
    text.Append(TextView("a\0b", 3)).Append(char(0xFF));
    ASSERT_EQ(text.Length(), 4u);
    EXPECT_EQ(std::string(text.CStr(), 4), std::string("a\0b\xFF", 4));
    EXPECT_TRUE(text.View() == TextView("a\0b\xFF", 4));
    EXPECT_FALSE(text.View() == TextView("a\0c\xFF", 4));
}

TEST(DosText, NumbersInDecimal) {
    FixedText<64> text;
    text.AppendNumber(0).Append(' ').AppendNumber(7).Append(' ').AppendNumber(51200).Append(' ');
    text.AppendNumber(UINT32_MAX);
    EXPECT_EQ(Str(text), "0 7 51200 4294967295");

    text.Clear();
    text.AppendSignedNumber(-5).Append(' ').AppendSignedNumber(0).Append(' ').AppendSignedNumber(42);
    text.Append(' ').AppendSignedNumber(INT32_MIN).Append(' ').AppendSignedNumber(INT32_MAX);
    EXPECT_EQ(Str(text), "-5 0 42 -2147483648 2147483647");

    FixedText<4> small;   // a number that does not fit is refused whole
    small.AppendNumber(1234);
    EXPECT_EQ(Str(small), "");
    EXPECT_TRUE(small.Overrun());
    small.Clear();
    small.AppendSignedNumber(-12);
    EXPECT_EQ(Str(small), "-12");
}

TEST(DosText, NumbersInHexadecimalWithLeadingZeros) {
    FixedText<64> text;
    text.AppendHex(0).Append(' ').AppendHex(0xABCD).Append(' ').AppendHex(0x1, 4).Append(' ');
    text.AppendHex(0x12345, 4).Append(' ').AppendHex(0, 4).Append(' ').AppendHex(0xFFFFFFFFu, 10);
    EXPECT_EQ(Str(text), "0 ABCD 0001 12345 0000 00FFFFFFFF");
}

TEST(DosText, TextsCompareByteByByteAsUnsignedWithPrefixesFirst) {
    EXPECT_EQ(CompareText("A05", "A05"), 0);
    EXPECT_LT(CompareText("A05", "A06"), 0);
    EXPECT_GT(CompareText("A06", "A05"), 0);
    EXPECT_LT(CompareText("A0", "A05"), 0);
    EXPECT_GT(CompareText("A05", "A0"), 0);
    EXPECT_EQ(CompareText("", ""), 0);
    EXPECT_GT(CompareText("\xE9", "z"), 0);   // bytes above 0x7F sort last
    EXPECT_TRUE(TextView() == TextView(""));
}
