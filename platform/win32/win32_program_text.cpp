// Windows hands a console program its arguments in the ANSI code page,
// which cannot hold every name: the wide command line is read instead.
#include "platform/program_text.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/win32_utf8.h"

namespace fwpack {

std::vector<std::string> Utf8Arguments(int argc, char **argv) {
    int n = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

// 0 when the program has no console (output redirected everywhere).
Utf8Console::Utf8Console() : saved_(GetConsoleOutputCP()) {
    if (saved_) SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console() {
    if (saved_) SetConsoleOutputCP(saved_);
}

}  // namespace fwpack
