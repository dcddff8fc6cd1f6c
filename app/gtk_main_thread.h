#pragma once

#include <functional>
#include <memory>

namespace qelt {

// Carries calls from other threads to the GTK main thread (the thread that created this object), whose widgets
// may only be touched there, and makes them synchronous: the caller waits until the call has run.
//
// Calls from other threads are taken only between Accept and Refuse, while the main thread iterates the default
// main context. Refuse releases every caller whose call has not started, so a thread that is waiting for a window
// that has just closed is never left blocked (the monitor thread is joined after the window closes). A call that
// was released this way never runs, even if the main context is iterated again later. Destroy on the main thread.
class GtkMainThread {
public:
    GtkMainThread();
    ~GtkMainThread();
    GtkMainThread(const GtkMainThread&) = delete;
    GtkMainThread& operator=(const GtkMainThread&) = delete;

    bool IsMainThread() const;
    // Runs `call` on the main thread and returns true once it has run: at once on the main thread itself, from
    // another thread only while calls are accepted. Returns false when the call did not run. An exception thrown
    // by `call` is dropped: it must not unwind through the main loop.
    bool Invoke(const std::function<void()>& call);
    // Main thread only: start and stop taking calls from other threads.
    void Accept();
    void Refuse();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qelt
