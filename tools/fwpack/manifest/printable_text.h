// Names and tags as they appear in messages: every message stays one line,
// whatever bytes a name holds.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace fwpack {

// Printable ASCII as it stands; control characters and bytes above 0x7E
// as \xNN.
std::string Printable(std::string_view text);
// Printable(text) in double quotes.
std::string Quoted(std::string_view text);
// The length of the well-formed UTF-8 sequence at text[at] with its code
// point, or 0 when the bytes there are not one (overlong forms, surrogates
// and values past U+10FFFF are not).
size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t &codePoint);
// True when all of text is well-formed UTF-8.
bool IsUtf8(std::string_view text);
// v as "0x" and the given number of upper-case hex digits (at least).
std::string Hex(uint32_t v, int digits);

}  // namespace fwpack
