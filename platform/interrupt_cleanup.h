// Temporary files that must not outlive the program when it is stopped in
// the middle of a write.
// - Linux: SIGINT, SIGTERM or SIGHUP. The handler only unlinks the
//   registered paths, restores the default action and raises the signal
//   again, so the caller still sees the program killed by that signal.
// - Windows: Ctrl-C, Ctrl-Break, closing the console, logging off or
//   shutting down. The console handler (on a thread of its own) deletes the
//   registered paths; Ctrl-C and Ctrl-Break then end the program with
//   STATUS_CONTROL_C_EXIT, the other events go on to the default handler.
#pragma once
#include <string>

namespace fwpack {

// Registers path (an absolute or working-folder-relative temporary file).
// Paths beyond the fixed table, or longer than a slot, are not registered.
void RemoveOnInterrupt(const std::string &path);
// Forgets path again: renamed into place, or removed by the caller.
void ForgetOnInterrupt(const std::string &path);

}  // namespace fwpack
