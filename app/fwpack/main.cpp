// fwpack: builds firmware-update packages from a manifest, and inspects,
// verifies and extracts the resources of a built package. main only reads
// the command line and hands it to the subcommand that was named.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "app/fwpack/command.h"
#include "fwpack_config.h"
#include "platform/program_text.h"

int main(int argc, char **argv) {
    using namespace fwpack;
    Utf8Console console;
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char *> argp;
    for (std::string &a : args) argp.push_back(a.data());

    CLI::App app{"fwpack: build, inspect, verify and extract firmware-update packages"};
    // "/x" is a path on every host, never an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("fwpack ") + kFwpackVersion,
                         "print fwpack's version and exit");
    app.require_subcommand(1);
    app.failure_message([](const CLI::App *, const CLI::Error &e) {
        return std::string("fwpack: ") + e.what() + " (see --help)\n";
    });
    app.footer("Exit codes: 0 ok, 1 verify found problems, 2 bad input or usage.");
    const Subcommand commands[] = {AddBuild(app), AddInspect(app), AddVerify(app),
                                   AddExtract(app), AddDosProgram(app)};
    try {
        app.parse(int(argp.size()), argp.data());
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitBadInput;
    }
    try {
        for (const Subcommand &c : commands)
            if (c.Options->parsed()) return c.Run();
    } catch (const std::exception &e) {
        // A name the system cannot take as a path, or memory that ran out:
        // one line, after the staged files have been removed.
        return Fail(e.what());
    }
    return kExitBadInput;
}
