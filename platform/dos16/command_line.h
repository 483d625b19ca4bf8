// How the DOS layer splits a command line it runs without the command
// interpreter: the program, its command tail, and a trailing "> name".
// Freestanding.
#pragma once

namespace fwpack {

// A command line split as RunCommand runs it; pointers into the caller's
// buffer, which the split writes NULs into.
struct Dos16Command {
    const char *Program = nullptr;   // null for an empty line
    const char *Arguments = "";
    const char *Output = nullptr;    // null: the output stays where it is
};
Dos16Command SplitDos16CommandLine(char *line);

}  // namespace fwpack
