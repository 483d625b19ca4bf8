// The ResultLog: a small profile file next to the program whose one entry
// tells the caller that this start could not begin its work.
#pragma once
#include <string>
#include <string_view>

#include "dialog/dialog_context.h"

namespace fwpack {

inline constexpr const char *kResultLogName = "RuvazUZUR.log";
inline constexpr const char *kResultLogSection = "RUVAZUZUR";
inline constexpr const char *kResultLogKey = "FlashResult";
inline constexpr const char *kResultLogValue = "1";

// The ResultLog path for a program file: its folder (the path as a 260-byte
// buffer holds it, cut before the last backslash) + "\RuvazUZUR.log".
std::string ResultLogPathFor(std::string_view modulePath);

// Writes "FlashResult" = "1" into the ResultLog; the outcome is not used.
void WriteFlashResult(DialogContext &context);

}  // namespace fwpack
