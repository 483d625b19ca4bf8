// UTF-8 inside, UTF-16 at the Windows "W" calls.
#pragma once
#include <string>

#include <windows.h>

namespace fwpack {

// Empty when text is not valid UTF-8: no call then finds a file by it.
std::wstring Wide(const std::string &text);
std::string Utf8(const wchar_t *text);

// The error's text as Linux's strerror gives it where the two systems mean
// the same thing, so that both hosts print the same line; else the system's
// own message with its number.
std::string ErrorText(DWORD code);

}  // namespace fwpack
