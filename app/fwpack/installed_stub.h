// The updaters installed with fwpack, which `build --stub` and `--dos-stub`
// use when no file is named.
#pragma once
#include <string>

namespace fwpack {

// path: the installed file called name (updater.exe, dosupdater); false with
// the places looked at when there is none.
bool FindInstalledStub(const std::string &name, std::string &path, std::string &error);

}  // namespace fwpack
