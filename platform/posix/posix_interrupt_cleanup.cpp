// Temporaries removed when a signal stops the program (Linux).
#include "platform/interrupt_cleanup.h"

#include <csignal>
#include <cstring>
#include <limits.h>
#include <unistd.h>

namespace fwpack {
namespace {

// Fixed storage: the handler may touch nothing that an allocation could be
// changing at the moment the signal arrives. A slot is written first and
// published by its flag; the handler reads only published slots.
constexpr size_t kSlots = 256;
char gPaths[kSlots][PATH_MAX];
volatile sig_atomic_t gUsed[kSlots];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
bool gInstalled = false;

extern "C" void RemoveTemporariesAndDie(int signal) {
    for (size_t i = 0; i < kSlots; ++i)
        if (gUsed[i]) ::unlink(gPaths[i]);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(signal, &dfl, nullptr);
    ::raise(signal);
}

void InstallOnce() {
    if (gInstalled) return;
    gInstalled = true;
    for (int s : kSignals) {
        struct sigaction old {};
        ::sigaction(s, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;  // started under nohup: keep ignoring
        struct sigaction act {};
        act.sa_handler = RemoveTemporariesAndDie;
        sigfillset(&act.sa_mask);
        ::sigaction(s, &act, nullptr);
    }
}

}  // namespace

void RemoveOnInterrupt(const std::string &path) {
    InstallOnce();
    if (path.size() >= PATH_MAX) return;
    for (size_t i = 0; i < kSlots; ++i) {
        if (gUsed[i]) continue;
        std::memcpy(gPaths[i], path.c_str(), path.size() + 1);
        gUsed[i] = 1;
        return;
    }
}

void ForgetOnInterrupt(const std::string &path) {
    for (size_t i = 0; i < kSlots; ++i)
        if (gUsed[i] && path == gPaths[i]) {
            gUsed[i] = 0;
            return;
        }
}

}  // namespace fwpack
