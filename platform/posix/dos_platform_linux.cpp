#include "platform/posix/dos_platform_linux.h"

#include "platform/posix/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <sys/reboot.h>
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

// The terminal's settings while a key is awaited, so that a signal that
// ends the program (Ctrl-C) gives the terminal back its echo.
termios gSavedTerminal{};
volatile sig_atomic_t gTerminalChanged = 0;
constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGTERM};

// Ends the program the way the shell reports a signal (128 + its number);
// re-raising would not do it when the program is a PID namespace's first
// process, which ignores signals it has no handler for.
void RestoreTerminalAndDie(int signal) {
    if (gTerminalChanged) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    ::_exit(128 + signal);
}

}  // namespace

void LinuxDosPlatform::Write(const char *text, size_t length) { WriteAll(STDOUT_FILENO, text, length); }

bool ReadFirmwareDump(const std::string &dumpPath, uint32_t address, uint8_t *out, size_t count) {
    std::memset(out, 0xFF, count);
    int fd = ::open(dumpPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
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
            std::string warning = std::string(kFirmwareDumpVariable) + ": cannot open " + dump + "\n";
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

int LinuxDosPlatform::RunCommand(const char *commandLine) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        const char *path = std::getenv("PATH");
        std::string search = std::string(".:") + (path && *path ? path : "/usr/bin:/bin");
        ::setenv("PATH", search.c_str(), 1);
        ::execl("/bin/sh", "sh", "-c", commandLine, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void LinuxDosPlatform::MakeRunnable(const char *fileName) { ::chmod(fileName, 0755); }

int LinuxDosPlatform::ReadKey() {
    unsigned char key = 0;
    ssize_t n;
    bool keys = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0;
    struct sigaction previous[std::size(kEndingSignals)] {};
    if (keys) {
        // One key at a time, not shown: no line editing and no echo. Ctrl-C
        // still ends the program.
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndDie;
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &restore, &previous[i]);
        termios single = gSavedTerminal;
        single.c_lflag &= ~tcflag_t(ICANON | ECHO);
        single.c_cc[VMIN] = 1;
        single.c_cc[VTIME] = 0;
        gTerminalChanged = 1;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &single);
    }
    do n = ::read(STDIN_FILENO, &key, 1);
    while (n < 0 && errno == EINTR);
    if (keys) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        gTerminalChanged = 0;
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &previous[i], nullptr);
    }
    return n == 1 ? key : kEndOfInput;
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
