#include <signal.h>

#include <atomic>

#include "tools/qelt_fetch/interrupt.h"

namespace qelt::fetch {
namespace {

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnStopSignal(int number) {
    int none = 0;
    received.compare_exchange_strong(none, number);
    // sigaction is async-signal-safe; the next stop signal takes the default action.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(SIGINT, &standard, nullptr);
    sigaction(SIGTERM, &standard, nullptr);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() {
    return received.load();
}

}  // namespace qelt::fetch
