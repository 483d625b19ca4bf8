// Helpers for the fwpack tool tests: run the built fwpack (or python3) as a
// subprocess and capture its exit code, stdout and stderr; build the sample.
#pragma once
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

extern char **environ;

namespace fwpack::test {

struct RunResult {
    int Code = -1;
    std::string Out, Err;
    // stderr's lines, without the final newline.
    std::vector<std::string> ErrLines() const { return Lines(Err); }
    std::vector<std::string> OutLines() const { return Lines(Out); }
    static std::vector<std::string> Lines(const std::string &text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};

inline std::string FwpackPath() { return std::string(FWPACK_BINARY_DIR) + "/fwpack"; }
inline std::string SampleManifest() {
    return std::string(FWPACK_SOURCE_DIR) + "/examples/sample/package.toml";
}

inline std::string Text(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

// Runs argv[0] (searched on PATH) with stdout and stderr captured in files.
inline RunResult RunProgram(const std::vector<std::string> &argv) {
    TempDir capture;
    std::string out = capture / "out", err = capture / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    RunResult r;
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.Out = Text(ReadBytes(out));
    r.Err = Text(ReadBytes(err));
    return r;
}

inline RunResult Fwpack(std::vector<std::string> args) {
    args.insert(args.begin(), FwpackPath());
    return RunProgram(args);
}

// Every file below dir, relative names.
inline std::vector<std::string> FilesBelow(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) return names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(std::filesystem::relative(e.path(), dir).string());
    return names;
}

}  // namespace fwpack::test
