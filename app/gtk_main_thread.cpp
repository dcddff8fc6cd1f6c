#include "app/gtk_main_thread.h"

#include <glib.h>

#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace qelt {
namespace {

enum class CallState { Queued, Running, Done, Released };

struct Call {
    const std::function<void()>* function;
    CallState state = CallState::Queued;
};

}  // namespace

struct GtkMainThread::State {
    const std::thread::id mainThread = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    bool accepting = false;
    std::list<std::shared_ptr<Call>> queued;
};

// What the idle source carries. It keeps the state alive, because the source may be dispatched after the object
// that queued it has gone (a later nested loop of a message box iterates the same context).
struct GtkMainThread::Queued {
    std::shared_ptr<State> state;
    std::shared_ptr<Call> call;
};

namespace {

void RunCall(const std::function<void()>& function) noexcept {
    try {
        function();
    } catch (...) {
    }
}

}  // namespace

int GtkMainThread::RunQueued(void* data) {
    auto& queued = *static_cast<Queued*>(data);
    auto& state = *queued.state;
    {
        std::lock_guard guard(state.mutex);
        if (queued.call->state != CallState::Queued) return G_SOURCE_REMOVE;
        queued.call->state = CallState::Running;
        state.queued.remove(queued.call);
    }
    RunCall(*queued.call->function);
    {
        std::lock_guard guard(state.mutex);
        queued.call->state = CallState::Done;
    }
    state.changed.notify_all();
    return G_SOURCE_REMOVE;
}

GtkMainThread::GtkMainThread() : state_(std::make_shared<State>()) {}

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
    auto call = std::make_shared<Call>(Call{&function});
    std::unique_lock lock(state_->mutex);
    if (!state_->accepting) return false;
    state_->queued.push_back(call);
    // Always through a source: g_main_context_invoke would run the call on this thread whenever the main thread
    // does not own the context at that instant.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &GtkMainThread::RunQueued, new Queued{state_, call},
                          [](gpointer data) { delete static_cast<Queued*>(data); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
    state_->changed.wait(lock,
                         [&] { return call->state == CallState::Done || call->state == CallState::Released; });
    return call->state == CallState::Done;
}

void GtkMainThread::Accept() {
    std::lock_guard guard(state_->mutex);
    state_->accepting = true;
}

void GtkMainThread::Refuse() {
    {
        std::lock_guard guard(state_->mutex);
        state_->accepting = false;
        for (const auto& call : state_->queued)
            call->state = CallState::Released;
        state_->queued.clear();
    }
    state_->changed.notify_all();
}

}  // namespace qelt
