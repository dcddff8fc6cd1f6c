#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "work/work_status.h"

namespace qelt {

class Work;
class SimpleWork;
class Workflow;

// Observer of a work's completion. Called on the pool thread that ran the work (or by a child composite), with no
// lock of the work held.
class WorkCompleteCallback {
public:
    virtual ~WorkCompleteCallback() = default;
    virtual void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) = 0;
};

// Observer told just before a simple work retries in place, on the thread running it.
class SimpleWorkRetryCallback {
public:
    virtual ~SimpleWorkRetryCallback() = default;
    virtual void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) = 0;
};

// Observers of one kind, in the order they were added. Nearly every work has at most one besides its workflow and
// its parent (the transfer's log), and a transfer keeps ten works per chunk of every file alive at once, so the
// first observer is held in place and only further ones take a heap block. Null observers are not kept.
template <typename Callback>
class CallbackList {
public:
    void Add(Callback* callback) {
        if (!callback) return;
        if (!first_) {
            first_ = callback;
            return;
        }
        if (!more_) more_ = std::make_unique<std::vector<Callback*>>();
        more_->push_back(callback);
    }
    std::size_t Size() const { return first_ ? 1 + (more_ ? more_->size() : 0) : 0; }
    Callback* operator[](std::size_t index) const { return index == 0 ? first_ : (*more_)[index - 1]; }

private:
    Callback* first_ = nullptr;
    std::unique_ptr<std::vector<Callback*>> more_;
};

// A unit of asynchronous work, always owned through a shared pointer.
//
// Completion observers are kept in a fixed order: the workflow the work is attached to at the front, the parent
// composite at the back, and other observers between them in registration order. Observers are raw pointers and
// must outlive the work. The callback lists are filled before the work is first queued and are not locked: they
// must not change while the work runs.
class Work : public WorkDescriptor {
public:
    Work() = default;
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;

    void Describe(ptree& out) const override;
    // Asked after a RetryableError; answering true consumes one retry.
    virtual bool CanRetry() { return false; }
    // Returns the work to its not-run state; called before it is queued again.
    virtual void Reset() = 0;
    // Describe(out), then a child "workStatus" with the status.
    virtual void DescribeWithStatus(const WorkStatus& status, ptree& out) const;
    virtual std::shared_ptr<Work> SharedFromThis() = 0;
    virtual std::shared_ptr<const Work> SharedFromThis() const = 0;
    // Binds the work to a workflow, replacing a previous one; calls OnAttach at the end.
    virtual void Attach(std::shared_ptr<Workflow> workflow);
    virtual void OnAttach(std::shared_ptr<Workflow> workflow) = 0;
    // Hands every leaf that can run now to the workflow.
    virtual void QueueAvailableWork(std::shared_ptr<Workflow> workflow) = 0;

    // Inserts an observer before the parent (when there is one), else at the end.
    void AddCompleteCallback(WorkCompleteCallback* callback);
    // Calls every completion observer front to back with this work and the status.
    void NotifyComplete(const WorkStatus& status);

    bool IsAttached() const { return workflowCallback_ != nullptr; }
    bool HasParent() const { return parent_ != nullptr; }
    // The completion observers in the order they are called.
    std::vector<WorkCompleteCallback*> CompleteCallbacks() const;

private:
    friend class CompositeWork;
    // Registers `parent` at the back, replacing a previous parent.
    void SetParent(WorkCompleteCallback* parent);

    // The workflow and the parent each have a slot of their own, so that a typical work (workflow, the transfer's
    // log, parent) needs no heap block for its observers.
    WorkCompleteCallback* workflowCallback_ = nullptr;
    CallbackList<WorkCompleteCallback> observers_;
    WorkCompleteCallback* parent_ = nullptr;
};

// A leaf: the only kind of work that runs on a pool thread.
class SimpleWork : public Work, public std::enable_shared_from_this<SimpleWork> {
public:
    void Reset() override;
    std::shared_ptr<Work> SharedFromThis() override { return shared_from_this(); }
    std::shared_ptr<const Work> SharedFromThis() const override { return shared_from_this(); }
    void OnAttach(std::shared_ptr<Workflow>) override {}
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

    // Does the work once, synchronously, on a pool thread. Implementations catch their own exceptions and report
    // them as RetryableError or FatalError.
    virtual WorkStatus ExecuteTask() = 0;
    // Called by the workflow right after it set the cancel flag of a running work; interrupts the attempt where
    // the work can (an HTTP request), else does nothing.
    virtual void Cancel() = 0;

    // Runs ExecuteTask, retrying in place at once while it reports RetryableError and CanRetry allows; stops with
    // Cancelled when the cancel flag is set before an attempt.
    WorkStatus Run();
    void NotifyRetry(const WorkStatus& status);
    void AddRetryCallback(SimpleWorkRetryCallback* callback) { retryCallbacks_.Add(callback); }

    // Set by the workflow from its own thread and read between attempts by the pool thread.
    void RequestCancel() { cancelRequested_.store(true, std::memory_order_relaxed); }
    bool IsCancelRequested() const { return cancelRequested_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> cancelRequested_{false};
    CallbackList<SimpleWorkRetryCallback> retryCallbacks_;
};

}  // namespace qelt
