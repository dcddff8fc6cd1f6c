#include "app/posix_interrupt_watcher.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace qelt {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};
constexpr unsigned char kStopByte = 0;

// The write end of the wake-up pipe, for the signal handler, which may only make async-signal-safe calls.
volatile sig_atomic_t wakeUpFd = -1;

extern "C" void ForwardSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = write(wakeUpFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

struct PosixInterruptWatcher::Saved {
    sigset_t mask;
    struct sigaction actions[std::size(kSignals)];
    bool installed[std::size(kSignals)] = {};
    int pipe[2] = {-1, -1};
};

PosixInterruptWatcher::PosixInterruptWatcher() : saved_(std::make_unique<Saved>()) {
    if (pipe2(saved_->pipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the interrupt pipe");
    // A full pipe must never block the handler; a signal that does not fit is one the watcher has already seen.
    fcntl(saved_->pipe[1], F_SETFL, fcntl(saved_->pipe[1], F_GETFL) | O_NONBLOCK);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal : kSignals)
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, &saved_->mask);
}

PosixInterruptWatcher::~PosixInterruptWatcher() {
    if (thread_.joinable()) {
        [[maybe_unused]] const ssize_t written = write(saved_->pipe[1], &kStopByte, 1);
        thread_.join();
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (saved_->installed[i]) sigaction(kSignals[i], &saved_->actions[i], nullptr);
    wakeUpFd = -1;
    pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
    close(saved_->pipe[0]);
    close(saved_->pipe[1]);
}

void PosixInterruptWatcher::Enable(std::function<void()> onInterrupt) {
    if (thread_.joinable()) return;
    onInterrupt_ = std::move(onInterrupt);
    // Started while the signals are blocked here, so the thread never takes one itself.
    thread_ = std::thread([this] { Watch(); });
    wakeUpFd = saved_->pipe[1];
    sigset_t unblocked;
    sigemptyset(&unblocked);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction previous {};
        sigaction(kSignals[i], nullptr, &previous);
        if (previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = ForwardSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a read the signal interrupts fails with EINTR, so the language prompt gives up.
        // SA_RESETHAND: the next signal finds the default action and ends the process.
        action.sa_flags = SA_RESETHAND;
        saved_->installed[i] = sigaction(kSignals[i], &action, &saved_->actions[i]) == 0;
        sigaddset(&unblocked, kSignals[i]);
    }
    pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
}

void PosixInterruptWatcher::Watch() {
    unsigned char byte = kStopByte;
    for (;;) {
        const ssize_t got = read(saved_->pipe[0], &byte, 1);
        if (got == 1) break;
        if (got < 0 && errno == EINTR) continue;
        return;
    }
    if (byte == kStopByte) return;
    // Either signal ends the process the usual way from now on, whichever came first.
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (saved_->installed[i]) signal(kSignals[i], SIG_DFL);
    try {
        onInterrupt_();
    } catch (...) {
        // The handler's failure must not end the process mid-teardown; the next signal still can.
    }
}

}  // namespace qelt
