#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "work/workflow.h"

namespace qelt {

class WorkManager;

// The workflow: a last-in-first-out queue of leaves that may run, at most maxInFlight of them posted to the work
// manager at once, paused by the user and by unabsorbed retryable errors, finished by the root's final report or
// by any FatalError, stopped by Cancel.
//
// Threads and locks: reports and OnWorkFinished arrive on pool threads; Start, Pause, Resume and ResumeAfterError
// come from the owner, possibly under the owner's lock; a recursive mutex serialises them. Composites hold their
// own lock when they call Enqueue, so the workflow never calls into a composite with its mutex held: Start queues
// the root's leaves before it takes the mutex to dispatch, Cancel notifies the root after releasing it, and the
// retryable-error callbacks run without it. Pause, Cancel and a fatal report call SimpleWork::Cancel on each
// running leaf with the mutex held: that hook must return quickly and must not call back into the workflow or
// take its owner's lock. Enqueue resets the leaf with the mutex held.
class StandardWorkflow : public Workflow, public std::enable_shared_from_this<StandardWorkflow> {
public:
    // A workflow in state NotStarted with `root` attached to it. `manager` is not owned and must outlive it.
    static std::shared_ptr<Workflow> Create(std::shared_ptr<Work> root, WorkManager* manager,
                                            unsigned maxInFlight);

    StandardWorkflow(const StandardWorkflow&) = delete;
    StandardWorkflow& operator=(const StandardWorkflow&) = delete;

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;
    bool Start() override;
    bool Pause() override;
    bool Resume() override;
    bool ResumeAfterError() override;
    WorkflowState GetState() const override;
    bool IsStarted() const override;
    bool IsPaused() const override;
    bool IsErrorPaused() const override;
    bool IsFinished() const override;
    bool Cancel(const WorkStatus& status) override;
    void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) override;
    void Enqueue(std::shared_ptr<SimpleWork> work) override;
    void OnWorkFinished(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;

    // Leaves waiting to run, and leaves posted whose task has not finished yet.
    std::size_t PendingCount() const;
    std::size_t RunningCount() const;

private:
    StandardWorkflow(std::shared_ptr<Work> root, WorkManager* manager, unsigned maxInFlight);

    bool IsFinishedLocked() const;
    bool IsErrorPausedLocked() const;
    bool Stop();
    void Dispatch();
    void StopAll();

    mutable std::recursive_mutex mutex_;
    const std::shared_ptr<Work> root_;
    WorkManager* const manager_;
    const unsigned maxInFlight_;
    std::deque<std::shared_ptr<SimpleWork>> pending_;
    // At most maxInFlight entries, searched linearly: cheaper than hashing, and no allocation per leaf.
    std::vector<std::shared_ptr<SimpleWork>> running_;
    // Leaves queued again by a composite while their previous task still runs (a restarted sequence's first
    // step reporting its own Failure): they go to pending when that task finishes, so one leaf is never posted
    // twice and the in-flight count stays exact. Each is also in running_, so this stays as small.
    std::vector<SimpleWork*> requeuedWhileRunning_;
    WorkflowState state_ = WorkflowState::NotStarted;
    std::vector<WorkflowRetryableErrorCallback*> retryableErrorCallbacks_;
};

}  // namespace qelt
