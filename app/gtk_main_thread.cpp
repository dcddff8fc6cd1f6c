#include "app/gtk_main_thread.h"

#include <glib.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace qelt {
namespace {

enum class CallState { Queued, Running, Done, Released };

struct Call {
    const GtkMainThread* owner;
    const std::function<void()>* function;
    CallState state = CallState::Queued;
};

// The calls waiting for the main thread. There is one GTK main context per process, so there is one queue; the
// idle sources carry no data and each takes the oldest call still queued. Everything a call hands over passes
// through this mutex, never through GLib's own locks, so every handover is visible to thread checkers.
struct CallQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Call>> calls;
};

CallQueue& Queue() {
    static auto* const queue = new CallQueue;  // never destroyed: a source may be dispatched during exit
    return *queue;
}

void RunCall(const std::function<void()>& function) noexcept {
    try {
        function();
    } catch (...) {
    }
}

gboolean RunQueued(gpointer /*unused*/) {
    auto& queue = Queue();
    std::shared_ptr<Call> call;
    {
        std::lock_guard guard(queue.mutex);
        // A source whose call was released finds nothing, or a later call whose own source will then find none.
        if (queue.calls.empty()) return G_SOURCE_REMOVE;
        call = queue.calls.front();
        queue.calls.pop_front();
        call->state = CallState::Running;
    }
    RunCall(*call->function);
    {
        std::lock_guard guard(queue.mutex);
        call->state = CallState::Done;
    }
    queue.changed.notify_all();
    return G_SOURCE_REMOVE;
}

}  // namespace

struct GtkMainThread::State {
    const std::thread::id mainThread = std::this_thread::get_id();
    bool accepting = false;  // guarded by the queue's mutex
};

GtkMainThread::GtkMainThread() : state_(std::make_unique<State>()) {}

GtkMainThread::~GtkMainThread() {
    Refuse();
}

bool GtkMainThread::IsMainThread() const {
    return std::this_thread::get_id() == state_->mainThread;
}

bool GtkMainThread::Invoke(const std::function<void()>& function) {
    if (IsMainThread()) {
        RunCall(function);
        return true;
    }
    auto& queue = Queue();
    auto call = std::make_shared<Call>(Call{this, &function});
    std::unique_lock lock(queue.mutex);
    if (!state_->accepting) return false;
    queue.calls.push_back(call);
    // Always through a source: g_main_context_invoke would run the call on this thread whenever the main thread
    // does not own the context at that instant.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, RunQueued, nullptr, nullptr);
    g_source_attach(source, nullptr);
    g_source_unref(source);
    queue.changed.wait(lock, [&] { return call->state == CallState::Done || call->state == CallState::Released; });
    return call->state == CallState::Done;
}

void GtkMainThread::Accept() {
    std::lock_guard guard(Queue().mutex);
    state_->accepting = true;
}

void GtkMainThread::Refuse() {
    auto& queue = Queue();
    {
        std::lock_guard guard(queue.mutex);
        state_->accepting = false;
        std::erase_if(queue.calls, [this](const std::shared_ptr<Call>& call) {
            if (call->owner != this) return false;
            call->state = CallState::Released;
            return true;
        });
    }
    queue.changed.notify_all();
}

}  // namespace qelt
