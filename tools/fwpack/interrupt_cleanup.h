// Temporary files that must not outlive the program when SIGINT, SIGTERM or
// SIGHUP ends it in the middle of a write. The handler only unlinks the
// registered paths, restores the default action and raises the signal again,
// so the caller still sees the program killed by that signal.
#pragma once
#include <string>

namespace fwpack {

// Registers path (an absolute or working-folder-relative temporary file).
// Paths beyond the fixed table, or longer than a slot, are not registered.
void RemoveOnInterrupt(const std::string &path);
// Forgets path again: renamed into place, or removed by the caller.
void ForgetOnInterrupt(const std::string &path);

}  // namespace fwpack
