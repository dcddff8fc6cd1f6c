#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "work/work.h"

namespace qelt {

// What a composite makes of one child's report: whether it is finished and its status so far.
struct ChildOutcome {
    // Finished unless the status is Cancelled or RetryableError.
    static ChildOutcome Of(WorkStatus status);
    // Not finished yet; the status is the placeholder of a status not produced.
    static ChildOutcome NotDone() { return ChildOutcome{false, WorkStatus(WorkResult::FatalError)}; }

    bool done;
    WorkStatus status;
};

// A work made of other works. It never runs on a pool thread itself: it passes attachment and queueing on to its
// children and folds their reports into its own status.
//
// Threads and locks: reports arrive on the pool threads that ran the children and are serialised by the
// composite's recursive mutex. The mutex is held while the composite queues children on the workflow (composite
// lock before workflow lock) and is released before the composite notifies its own observers, so a parent never
// takes its lock inside a child's. A composite only ever takes its children's locks, never its parent's.
class CompositeWork : public Work,
                      public WorkCompleteCallback,
                      public std::enable_shared_from_this<CompositeWork> {
public:
    // Not finished, status back to the placeholder. Subclasses extend it and reset every child.
    void Reset() override;
    std::shared_ptr<Work> SharedFromThis() override { return shared_from_this(); }
    std::shared_ptr<const Work> SharedFromThis() const override { return shared_from_this(); }
    // Remembers the workflow (weakly) for later queueing, then attaches as every work does.
    void Attach(std::shared_ptr<Workflow> workflow) override;

    // A child's report. Late reports (after the composite finished) are ignored; a report from a child that may
    // not report now ends the composite with a FatalError.
    void OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& childStatus) override;

    bool IsDone() const;
    WorkStatus GetStatus() const;

protected:
    CompositeWork() = default;

    // Registers this composite as the child's parent (replacing a previous parent) and attaches the child to this
    // composite's workflow when there is one. The child is not stored here; subclasses keep their own lists.
    virtual void AddChild(const std::shared_ptr<Work>& child);
    // May this child report now? Called with the mutex held, only while not done.
    virtual bool IsExpectedChild(const std::shared_ptr<Work>& child) = 0;
    // Folds a Success or Failure (any result but Cancelled, RetryableError, FatalError) of an expected child.
    // Called with the mutex held.
    virtual ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) = 0;
    // Reset, then queue again on the stored workflow. Called with the mutex held.
    virtual void Restart();

    // The workflow the composite was last attached to, or null when it is gone.
    std::shared_ptr<Workflow> GetWorkflow() const;
    // Queues `child` on the stored workflow, if it still exists.
    void QueueOnWorkflow(Work& child) const;
    std::recursive_mutex& Mutex() const { return mutex_; }

private:
    mutable std::recursive_mutex mutex_;
    bool done_ = false;
    WorkStatus status_;
    // Not under the composite mutex: AddChild reads it from DeferredWork::SetWork, which holds the deferred work's
    // child lock, and that lock is taken under the composite mutex elsewhere. An atomic pointer rather than a
    // mutex of its own beside it: a transfer keeps three composites per chunk alive, and a mutex is 40 bytes.
    std::atomic<std::weak_ptr<Workflow>> workflow_;
};

}  // namespace qelt
