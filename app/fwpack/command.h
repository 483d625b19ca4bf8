// What every subcommand of fwpack shares: its exit codes, the one-line
// failure, and the package and signature as the looking commands load them.
// Each subcommand file adds its options to the program's command line and
// returns what runs it; the work itself is done in the tools/fwpack rooms.
#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "tools/fwpack/authenticode/signature_report.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/inspect/payload_report.h"

namespace fwpack {

constexpr int kExitOk = 0, kExitProblems = 1, kExitBadInput = 2;

// "fwpack: line" on stderr; returns kExitBadInput.
int Fail(const std::string &line);

// The package at path as a report; false after Fail when it cannot be read.
// file: the package file's bytes as read (empty for a resources folder),
// so that its DOS program and signature are read from the same bytes.
bool Load(const std::string &path, PayloadReport &report, ContainerKind &kind,
          std::vector<uint8_t> &file);

// The PATH argument of the commands that look at a package.
void AddPackagePath(CLI::App &command, std::string &path);

// One subcommand: its part of the command line, and what runs once it is parsed.
struct Subcommand {
    CLI::App *Options = nullptr;
    std::function<int()> Run;
};

Subcommand AddBuild(CLI::App &app);
Subcommand AddInspect(CLI::App &app);
Subcommand AddVerify(CLI::App &app);
Subcommand AddExtract(CLI::App &app);
Subcommand AddDosProgram(CLI::App &app);

}  // namespace fwpack
