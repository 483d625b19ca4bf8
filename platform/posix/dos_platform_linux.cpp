#include "platform/posix/dos_platform_linux.h"

#include "platform/posix/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/reboot.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace fwpack {

namespace {

constexpr uint64_t kFourGiB = uint64_t(1) << 32;

// Reads what it can of [offset, offset + count) into out; the rest stays.
void ReadRange(int fd, uint64_t offset, uint8_t *out, size_t count) {
    // Page by page, so an unreadable page does not hide its neighbours.
    constexpr uint64_t kPage = 4096;
    size_t done = 0;
    while (done < count) {
        uint64_t at = offset + done;
        size_t want = size_t(std::min<uint64_t>(kPage - at % kPage, count - done));
        ssize_t n = ::pread(fd, out + done, want, off_t(at));
        if (n < 0 && errno == EINTR) continue;
        done += want;   // a short or failed read leaves 0xFF
        (void)n;
    }
}

// A closed terminal (SIGHUP) and a closed output (SIGPIPE) end the run with
// its cleanup, as Ctrl-C does.
constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE};
volatile sig_atomic_t gStopSignal = 0;

void NoteStopSignal(int signal) {
    if (gStopSignal == 0) gStopSignal = signal;
}

constexpr unsigned char kEscape = 0x1B;
constexpr int kExtendedKey = 0x100;

// A key that is more than a character (Alt with a letter, an arrow) comes
// from a terminal as ESC and the bytes already behind it: one key, and
// none of its bytes a letter that answers a question.
int SwallowEscapeSequence() {
    unsigned char last = kEscape;
    for (;;) {
        fd_set in;
        FD_ZERO(&in);
        FD_SET(STDIN_FILENO, &in);
        timeval now{0, 0};
        if (::select(STDIN_FILENO + 1, &in, nullptr, nullptr, &now) <= 0) return last;
        if (::read(STDIN_FILENO, &last, 1) != 1) return last;
    }
}

// Waits for stdin with the stop signals unblocked only inside pselect, so a
// signal that comes before the wait still ends it.
int WaitForKey(const sigset_t &waitMask) {
    for (;;) {
        if (gStopSignal != 0) return kStopRequested;
        fd_set in;
        FD_ZERO(&in);
        FD_SET(STDIN_FILENO, &in);
        if (::pselect(STDIN_FILENO + 1, &in, nullptr, nullptr, nullptr, &waitMask) < 0) {
            if (errno == EINTR) continue;
            return kEndOfInput;
        }
        unsigned char key = 0;
        ssize_t n = ::read(STDIN_FILENO, &key, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n == 1 && key == kEscape && ::isatty(STDIN_FILENO)) return kExtendedKey | SwallowEscapeSequence();
        return n == 1 ? key : kEndOfInput;
    }
}

void Complain(const char *what, const char *name, int error) {
    const char *reason = std::strerror(error);
    WriteAll(STDERR_FILENO, what, std::strlen(what));
    WriteAll(STDERR_FILENO, name, std::strlen(name));
    WriteAll(STDERR_FILENO, ": ", 2);
    WriteAll(STDERR_FILENO, reason, std::strlen(reason));
    WriteAll(STDERR_FILENO, "\n", 1);
}

// The child's part of a command: its output file, then the program, looked
// for in the current directory first, as the DOS interpreter does. Exit
// codes as a shell gives them: 127 not found, 126 not runnable, 1 no output.
[[noreturn]] void RunInChild(const DosCommand &command, char *const *argv, const char *search) {
    if (!command.Output.empty()) {
        int fd = ::open(command.Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) {
            Complain("cannot write ", command.Output.c_str(), errno);
            ::_exit(1);
        }
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    if (argv[0] == nullptr) ::_exit(0);   // an empty command only makes its output file
    ::setenv("PATH", search, 1);
    ::execvp(argv[0], argv);
    int error = errno;
    Complain("cannot run ", argv[0], error);
    ::_exit(error == ENOENT ? 127 : 126);
}

}  // namespace

void LinuxDosPlatform::Write(const char *text, size_t length) { WriteAll(STDOUT_FILENO, text, length); }

bool ReadFirmwareDump(const std::string &dumpPath, uint32_t address, uint8_t *out, size_t count) {
    std::memset(out, 0xFF, count);
    // Without blocking, so that a FIFO cannot hang the open; only a regular
    // file is read.
    int fd = ::open(dumpPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (st.st_size > 0) {
        uint64_t size = std::min<uint64_t>(uint64_t(st.st_size), kFourGiB);
        uint64_t base = kFourGiB - size;   // where byte 0 of the dump appears
        // Only the dump's last size bytes lie in the 4 GiB space.
        uint64_t skip = uint64_t(st.st_size) - size;
        uint64_t begin = std::max<uint64_t>(address, base);
        uint64_t end = std::min<uint64_t>(uint64_t(address) + count, kFourGiB);
        if (begin < end) ReadRange(fd, skip + (begin - base), out + (begin - address), size_t(end - begin));
    }
    ::close(fd);
    return true;
}

void LinuxDosPlatform::ReadPhysical(uint32_t address, uint8_t *out, size_t count) {
    if (const char *dump = std::getenv(kFirmwareDumpVariable); dump && *dump) {
        if (!ReadFirmwareDump(dump, address, out, count)) {
            std::string warning = std::string(kFirmwareDumpVariable) + ": cannot open " + dump + " as a regular file\n";
            WriteAll(STDERR_FILENO, warning.data(), warning.size());
        }
        return;
    }
    std::memset(out, 0xFF, count);
    int fd = ::open("/dev/mem", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    uint64_t end = std::min<uint64_t>(uint64_t(address) + count, kFourGiB);
    ReadRange(fd, address, out, size_t(end - address));
    ::close(fd);
}

DosFile LinuxDosPlatform::OpenOwnFile() { return files_.OpenForReading("/proc/self/exe"); }

DosCommand ParseDosCommandLine(std::string_view commandLine) {
    DosCommand command;
    size_t at = 0;
    while (at < commandLine.size()) {
        if (commandLine[at] == ' ') {
            ++at;
            continue;
        }
        size_t end = std::min(commandLine.find(' ', at), commandLine.size());
        command.Words.emplace_back(commandLine.substr(at, end - at));
        at = end;
    }
    const size_t n = command.Words.size();
    if (n >= 2 && command.Words[n - 2] == ">") {
        command.Output = command.Words[n - 1];
        command.Words.resize(n - 2);
    }
    return command;
}

// No shell: the words go to the program as they are, whatever characters
// they hold, and the layer itself sends the output to its file.
int LinuxDosPlatform::RunCommand(const char *commandLine) {
    DosCommand command = ParseDosCommandLine(commandLine);
    std::vector<char *> argv;
    for (std::string &word : command.Words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const char *path = std::getenv("PATH");
    const std::string search = std::string(".:") + (path && *path ? path : "/usr/bin:/bin");

    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) RunInChild(command, argv.data(), search.c_str());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    // A program ended by a signal did not finish its job.
    return WIFEXITED(status) ? WEXITSTATUS(status) : kCommandAborted;
}

void LinuxDosPlatform::MakeRunnable(const char *fileName) { ::chmod(fileName, 0755); }

void LinuxDosPlatform::CatchStopSignals() {
    struct sigaction note {};
    note.sa_handler = NoteStopSignal;
    note.sa_flags = SA_RESTART;   // only the wait for a key is cut short
    sigemptyset(&note.sa_mask);
    for (int signal : kStopSignals) ::sigaction(signal, &note, nullptr);
}

int LinuxDosPlatform::StopRequest() { return gStopSignal != 0 ? 128 + gStopSignal : 0; }

int LinuxDosPlatform::ReadKey() {
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int signal : kStopSignals) sigaddset(&stops, signal);
    ::sigprocmask(SIG_BLOCK, &stops, &previous);
    termios saved{};
    bool keys = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (keys) {
        // One key at a time, not shown: no line editing and no echo. Ctrl-C
        // is still a signal, which ends the wait.
        termios single = saved;
        single.c_lflag &= ~tcflag_t(ICANON | ECHO);
        single.c_cc[VMIN] = 1;
        single.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &single);
    }
    int key = WaitForKey(previous);
    if (keys) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return key;
}

void LinuxDosPlatform::DiscardTypeAhead() {
    if (::isatty(STDIN_FILENO)) ::tcflush(STDIN_FILENO, TCIFLUSH);
}

void LinuxDosPlatform::Beep(unsigned, unsigned milliseconds) {
    // The terminal has one bell; its pitch is the terminal's.
    WriteAll(STDOUT_FILENO, "\a", 1);
    Delay(milliseconds);
}

void LinuxDosPlatform::Delay(unsigned milliseconds) {
    timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void LinuxDosPlatform::Restart() {
    ::sync();
    ::reboot(RB_AUTOBOOT);
}

}  // namespace fwpack
