#include "work/standard_workflow.h"

#include <algorithm>

#include "work/work_manager.h"

namespace qelt {
namespace {

// Removes `item` from an unordered vector; true when it was there.
template <typename T, typename U>
bool EraseUnordered(std::vector<T>& items, const U& item) {
    const auto it = std::find(items.begin(), items.end(), item);
    if (it == items.end()) return false;
    *it = std::move(items.back());
    items.pop_back();
    return true;
}

}  // namespace

std::shared_ptr<Workflow> StandardWorkflow::Create(std::shared_ptr<Work> root, WorkManager* manager,
                                                   unsigned maxInFlight) {
    std::shared_ptr<StandardWorkflow> workflow(new StandardWorkflow(root, manager, maxInFlight));
    root->Attach(workflow);
    return workflow;
}

StandardWorkflow::StandardWorkflow(std::shared_ptr<Work> root, WorkManager* manager, unsigned maxInFlight)
    : root_(std::move(root)), manager_(manager), maxInFlight_(maxInFlight) {
    running_.reserve(maxInFlight_);
}

bool StandardWorkflow::IsFinishedLocked() const {
    return state_ == WorkflowState::Finished || state_ == WorkflowState::Stopped;
}

bool StandardWorkflow::IsErrorPausedLocked() const {
    return state_ == WorkflowState::PausedByError || state_ == WorkflowState::PausedBoth;
}

WorkflowState StandardWorkflow::GetState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool StandardWorkflow::IsStarted() const {
    return GetState() != WorkflowState::NotStarted;
}

bool StandardWorkflow::IsPaused() const {
    const WorkflowState state = GetState();
    return state == WorkflowState::Paused || state == WorkflowState::PausedBoth;
}

bool StandardWorkflow::IsErrorPaused() const {
    std::lock_guard lock(mutex_);
    return IsErrorPausedLocked();
}

bool StandardWorkflow::IsFinished() const {
    std::lock_guard lock(mutex_);
    return IsFinishedLocked();
}

std::size_t StandardWorkflow::PendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

std::size_t StandardWorkflow::RunningCount() const {
    std::lock_guard lock(mutex_);
    return running_.size();
}

bool StandardWorkflow::Start() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != WorkflowState::NotStarted) return false;
        // Running before the leaves are queued, so that a Pause or Cancel arriving meanwhile is kept.
        state_ = WorkflowState::Running;
    }
    // Without the mutex: composites take their own locks while queueing, and those come before the workflow's.
    try {
        root_->QueueAvailableWork(shared_from_this());
    } catch (...) {
        std::lock_guard lock(mutex_);
        pending_.clear();
        if (state_ == WorkflowState::Running) state_ = WorkflowState::NotStarted;
        throw;
    }
    std::lock_guard lock(mutex_);
    Dispatch();
    return true;
}

bool StandardWorkflow::Pause() {
    std::lock_guard lock(mutex_);
    if (state_ == WorkflowState::Running) {
        state_ = WorkflowState::Paused;
    } else if (state_ == WorkflowState::PausedByError) {
        state_ = WorkflowState::PausedBoth;
    } else {
        return false;
    }
    StopAll();
    return true;
}

bool StandardWorkflow::Resume() {
    std::lock_guard lock(mutex_);
    if (state_ == WorkflowState::Paused) {
        state_ = WorkflowState::Running;
    } else if (state_ == WorkflowState::PausedBoth) {
        state_ = WorkflowState::PausedByError;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

bool StandardWorkflow::ResumeAfterError() {
    std::lock_guard lock(mutex_);
    if (state_ == WorkflowState::PausedByError) {
        state_ = WorkflowState::Running;
    } else if (state_ == WorkflowState::PausedBoth) {
        state_ = WorkflowState::Paused;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

bool StandardWorkflow::Stop() {
    std::lock_guard lock(mutex_);
    if (state_ == WorkflowState::Stopped) return false;
    Pause();
    state_ = WorkflowState::Stopped;
    return true;
}

bool StandardWorkflow::Cancel(const WorkStatus& status) {
    if (!Stop()) return false;
    // Unlocked: the root's observers include the owner, which takes its own lock. The workflow, first among
    // them and now stopped, ignores the report.
    root_->NotifyComplete(status);
    return true;
}

void StandardWorkflow::AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) {
    std::lock_guard lock(mutex_);
    retryableErrorCallbacks_.push_back(callback);
}

void StandardWorkflow::Enqueue(std::shared_ptr<SimpleWork> work) {
    std::lock_guard lock(mutex_);
    if (IsFinishedLocked()) return;
    work->Reset();
    if (std::find(running_.begin(), running_.end(), work) != running_.end()) {
        if (std::find(requeuedWhileRunning_.begin(), requeuedWhileRunning_.end(), work.get()) ==
            requeuedWhileRunning_.end())
            requeuedWhileRunning_.push_back(work.get());
    } else {
        pending_.push_back(std::move(work));
    }
}

void StandardWorkflow::OnWorkFinished(std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    std::lock_guard lock(mutex_);
    EraseUnordered(running_, work);
    const bool requeued = !requeuedWhileRunning_.empty() && EraseUnordered(requeuedWhileRunning_, work.get());
    if (requeued || status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError)
        Enqueue(std::move(work));
    Dispatch();
}

void StandardWorkflow::Dispatch() {
    while (state_ == WorkflowState::Running && running_.size() < maxInFlight_ && !pending_.empty()) {
        std::shared_ptr<SimpleWork> work = std::move(pending_.back());
        pending_.pop_back();
        running_.push_back(work);
        manager_->PostWorkflowWork(shared_from_this(), std::move(work));
    }
}

void StandardWorkflow::StopAll() {
    // A copy: a leaf's Cancel hook may re-enter the workflow on this thread.
    const std::vector<std::shared_ptr<SimpleWork>> running = running_;
    for (const auto& work : running) {
        work->RequestCancel();
        try {
            work->Cancel();
        } catch (...) {
            // The flag is set, which stops the work before its next attempt; the hook only shortens the wait.
        }
    }
}

void StandardWorkflow::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    // Most reports are a leaf's or a composite's Success, Failure or Cancelled, which change nothing here; they
    // need not wait for the mutex, which every pool thread takes for each leaf anyway.
    const bool mayChangeState = status.result == WorkResult::FatalError ||
                                (status.result == WorkResult::RetryableError && !status.retry) ||
                                (status.result != WorkResult::Cancelled && work == root_);
    if (!mayChangeState) return;
    std::unique_lock lock(mutex_);
    if (state_ == WorkflowState::NotStarted || IsFinishedLocked()) return;

    const bool cancelledOrRetryable =
        status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError;
    if (status.result == WorkResult::FatalError || (!cancelledOrRetryable && work == root_)) {
        StopAll();
        state_ = WorkflowState::Finished;
        return;
    }

    if (status.result == WorkResult::RetryableError && !status.retry && !IsErrorPausedLocked()) {
        StopAll();
        state_ = state_ == WorkflowState::Running ? WorkflowState::PausedByError : WorkflowState::PausedBoth;
        const auto callbacks = retryableErrorCallbacks_;
        lock.unlock();
        const std::shared_ptr<Workflow> self = shared_from_this();
        for (auto* callback : callbacks)
            callback->OnWorkflowRetryableError(self, work, status);
    }
}

}  // namespace qelt
