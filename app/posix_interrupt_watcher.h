#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace qelt {

// Turns the user's interrupt (Ctrl-C, SIGINT) and a polite termination request (SIGTERM) into a call of a
// handler on a thread of the watcher's own, so the program can end its dialog and tear down in order (transfers
// suspended, records and logs complete) instead of dying in the middle of a write.
//
// Signals come in on the thread that creates the watcher, which should be the main thread, created before any
// other thread: the constructor blocks both signals there, threads started afterwards inherit the block, and
// Enable unblocks them on that thread alone. So a blocking read on the main thread (the terminal's language
// prompt) fails with EINTR instead of waiting on. Until Enable a signal waits; after it, the first signal calls
// the handler and a second one ends the process the usual way, for a user who does not want to wait for the
// teardown. A signal ignored when the watcher was made stays ignored (a program started in the background).
//
// One watcher at a time per process. The destructor stops the thread (no handler call after it returns) and
// restores the signals' previous dispositions and the creating thread's signal mask.
class PosixInterruptWatcher {
public:
    PosixInterruptWatcher();
    ~PosixInterruptWatcher();
    PosixInterruptWatcher(const PosixInterruptWatcher&) = delete;
    PosixInterruptWatcher& operator=(const PosixInterruptWatcher&) = delete;

    // Installs `onInterrupt`, called at most once, on the watcher's thread, and lets the signals in. Call it once,
    // on the creating thread.
    void Enable(std::function<void()> onInterrupt);

private:
    void Watch();

    struct Saved;

    std::unique_ptr<Saved> saved_;  // the dispositions and mask to restore, and the wake-up pipe
    std::function<void()> onInterrupt_;
    std::thread thread_;
};

}  // namespace qelt
