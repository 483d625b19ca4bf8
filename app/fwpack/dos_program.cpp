// fwpack dos-program: a real-mode DOS program put in front of a Windows
// program's PE headers, as its DOS stub.
#include <iostream>
#include <memory>

#include "app/fwpack/command.h"

namespace fwpack {
namespace {

struct DosProgramArgs {
    std::string Pe, Dos, Output;
};

int RunDosProgram(const DosProgramArgs &a) {
    std::string error;
    if (!WriteDualModeProgram(a.Pe, a.Dos, a.Output, error)) return Fail(error);
    std::cout << "wrote " << a.Output << ": " << a.Dos << " in front of " << a.Pe << "\n";
    return kExitOk;
}

}  // namespace

Subcommand AddDosProgram(CLI::App &app) {
    auto a = std::make_shared<DosProgramArgs>();
    CLI::App *dosProgram = app.add_subcommand(
        "dos-program",
        "Put a real-mode DOS program in front of a Windows program's PE headers (its DOS stub).");
    dosProgram->add_option("PE", a->Pe, "Windows program (.exe), unsigned")->required();
    dosProgram->add_option("DOS", a->Dos, "real-mode DOS program (MZ file)")->required();
    dosProgram->add_option("-o,--output", a->Output, "file to write (may be PE itself)")
        ->required();
    return {dosProgram, [a] { return RunDosProgram(*a); }};
}

}  // namespace fwpack
