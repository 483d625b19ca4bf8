#include "dos/text.h"

namespace fwpack {

int CompareText(TextView a, TextView b) {
    const size_t common = a.Length < b.Length ? a.Length : b.Length;
    for (size_t i = 0; i < common; ++i) {
        const unsigned x = uint8_t(a.Data[i]), y = uint8_t(b.Data[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.Length == b.Length ? 0 : a.Length < b.Length ? -1 : 1;
}

TextBuilder::TextBuilder(char *buffer, size_t room) : buffer_(buffer), room_(room) {
    buffer_[0] = '\0';
}

TextBuilder &TextBuilder::Append(TextView text) {
    if (text.Length >= room_ - length_) {
        overrun_ = true;
        return *this;
    }
    std::memcpy(buffer_ + length_, text.Data, text.Length);
    length_ += text.Length;
    buffer_[length_] = '\0';
    return *this;
}

namespace {
// The digits of value in base (10 or 16), at least minDigits of them, into
// the end of digits; returns where they start.
char *Digits(uint32_t value, uint32_t base, size_t minDigits, char (&digits)[kNumberTextRoom]) {
    static constexpr char kDigitChars[] = "0123456789ABCDEF";
    char *p = digits + sizeof digits;
    size_t count = 0;
    do {
        *--p = kDigitChars[value % base];
        value /= base;
        ++count;
    } while ((value != 0 || count < minDigits) && p > digits);
    return p;
}
}  // namespace

TextBuilder &TextBuilder::AppendNumber(uint32_t value) {
    char digits[kNumberTextRoom];
    const char *start = Digits(value, 10, 1, digits);
    return Append(TextView(start, size_t(digits + sizeof digits - start)));
}

TextBuilder &TextBuilder::AppendSignedNumber(int32_t value) {
    char digits[kNumberTextRoom];
    // The magnitude as unsigned, so that the most negative value has one.
    const uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    char *start = Digits(magnitude, 10, 1, digits);
    if (value < 0) *--start = '-';
    return Append(TextView(start, size_t(digits + sizeof digits - start)));
}

TextBuilder &TextBuilder::AppendHex(uint32_t value, size_t minDigits) {
    char digits[kNumberTextRoom];
    const char *start = Digits(value, 16, minDigits, digits);
    return Append(TextView(start, size_t(digits + sizeof digits - start)));
}

void TextBuilder::Clear() {
    length_ = 0;
    overrun_ = false;
    buffer_[0] = '\0';
}

}  // namespace fwpack
