// The names a DOS folder can hold: short (8.3) names from the characters
// DOS accepts, the device names DOS answers itself whatever the folder, and
// when two names are one file there. The DOS updater checks every name a
// package gives it by these rules, and the package builder can apply the
// same ones. Freestanding: plain characters in, answers out.
#pragma once
#include <cstddef>

namespace fwpack {

// Up to eight characters, then optionally a dot and up to three, each an
// ASCII letter or digit or one of ! # $ % & ' ( ) - @ ^ _ ` { } ~. So no
// space, no control or non-ASCII byte, no wildcard, redirection or path
// character, and no leading or trailing dot.
bool IsDosShortName(const char *name, size_t length);

// CON, AUX, PRN, NUL, CLOCK$, COM1-COM9 and LPT1-LPT9, in any case, with or
// without an extension: DOS opens the device for any of these names.
bool IsDosDeviceName(const char *name, size_t length);

// Room for a name as DOS files it: eight, a dot, three and the NUL.
inline constexpr size_t kDosFiledNameRoom = 13;

// The name as DOS would file it (NUL-terminated in out): ASCII letters in
// upper case, the part before the first dot cut to eight characters and the
// part after it to three.
void DosFiledName(const char *name, size_t length, char (&out)[kDosFiledNameRoom]);

// True when DOS would take a and b (NUL-terminated) for the same file.
bool SameDosFile(const char *a, const char *b);

}  // namespace fwpack
