// Texts without a standard library: a view of characters that are not
// owned, and a builder over a fixed buffer that refuses what does not fit.
// Freestanding: usable on every target of the DOS updater.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fwpack {

// Characters owned elsewhere: a pointer and a length, no NUL needed.
struct TextView {
    const char *Data = "";
    size_t Length = 0;

    constexpr TextView() = default;
    constexpr TextView(const char *data, size_t length) : Data(data), Length(length) {}
    TextView(const char *text) : Data(text), Length(std::strlen(text)) {}   // NOLINT: implicit

    bool Empty() const { return Length == 0; }
    char operator[](size_t i) const { return Data[i]; }
    friend bool operator==(TextView a, TextView b) {
        return a.Length == b.Length && (a.Length == 0 || std::memcmp(a.Data, b.Data, a.Length) == 0);
    }
};

// Below, equal or above 0 as a is ordered before, like or after b, byte by
// byte as unsigned values, a prefix before the longer text.
int CompareText(TextView a, TextView b);

// A text growing inside room bytes that the caller owns: room - 1
// characters and the NUL that always ends them. An append that does not fit
// is refused whole: the text keeps what it had and Overrun() turns true.
class TextBuilder {
  public:
    TextBuilder(char *buffer, size_t room);
    TextBuilder(const TextBuilder &) = delete;
    TextBuilder &operator=(const TextBuilder &) = delete;

    TextBuilder &Append(TextView text);
    TextBuilder &Append(char c) { return Append(TextView(&c, 1)); }
    // Decimal, without leading zeros.
    TextBuilder &AppendNumber(uint32_t value);
    TextBuilder &AppendSignedNumber(int32_t value);
    // Upper-case hexadecimal, at least minDigits digits (zeros in front).
    TextBuilder &AppendHex(uint32_t value, size_t minDigits = 1);
    void Clear();

    const char *CStr() const { return buffer_; }
    size_t Length() const { return length_; }
    TextView View() const { return {buffer_, length_}; }
    bool Overrun() const { return overrun_; }

  private:
    char *buffer_;
    size_t room_;
    size_t length_ = 0;
    bool overrun_ = false;
};

namespace text_detail {
template <size_t Room>
struct Storage {
    char Bytes[Room];
};
}  // namespace text_detail

// A TextBuilder with its own Room bytes.
template <size_t Room>
class FixedText : private text_detail::Storage<Room>, public TextBuilder {
    static_assert(Room >= 1, "room for the NUL");

  public:
    FixedText() : TextBuilder(this->Bytes, Room) {}
    explicit FixedText(TextView text) : FixedText() { Append(text); }
};

// The room of a decimal or hexadecimal 32-bit number with its sign and NUL.
inline constexpr size_t kNumberTextRoom = 12;

}  // namespace fwpack
