// Where the running program's own file is: the builder finds the files that
// were installed with it (the updaters it builds packages from) from there.
#pragma once
#include <string>

namespace fwpack {

// The running program's file as a UTF-8 path, or "" when the system does not
// say.
std::string ProgramFilePath();

}  // namespace fwpack
