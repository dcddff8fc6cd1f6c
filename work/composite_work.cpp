#include "work/composite_work.h"

#include "work/workflow.h"

namespace qelt {
namespace {

const char kInvalidChildProgress[] = "Invalid child progress for CompositeWork::OnWorkComplete";

}  // namespace

ChildOutcome ChildOutcome::Of(WorkStatus status) {
    const bool done = status.result != WorkResult::Cancelled && status.result != WorkResult::RetryableError;
    return ChildOutcome{done, std::move(status)};
}

void CompositeWork::Reset() {
    std::lock_guard lock(mutex_);
    done_ = false;
    status_ = WorkStatus(WorkResult::FatalError);
}

void CompositeWork::Attach(std::shared_ptr<Workflow> workflow) {
    workflow_.store(workflow);
    Work::Attach(std::move(workflow));
}

void CompositeWork::AddChild(const std::shared_ptr<Work>& child) {
    child->SetParent(static_cast<WorkCompleteCallback*>(this));
    if (!IsAttached()) return;
    if (auto workflow = GetWorkflow()) child->Attach(std::move(workflow));
}

std::shared_ptr<Workflow> CompositeWork::GetWorkflow() const {
    return workflow_.load().lock();
}

void CompositeWork::QueueOnWorkflow(Work& child) const {
    if (auto workflow = GetWorkflow()) child.QueueAvailableWork(std::move(workflow));
}

void CompositeWork::Restart() {
    Reset();
    if (auto workflow = GetWorkflow()) QueueAvailableWork(std::move(workflow));
}

bool CompositeWork::IsDone() const {
    std::lock_guard lock(mutex_);
    return done_;
}

WorkStatus CompositeWork::GetStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void CompositeWork::OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& childStatus) {
    std::unique_lock lock(mutex_);
    if (done_) return;
    if (!IsExpectedChild(child)) {
        status_ = WorkStatus(WorkResult::FatalError, std::make_shared<WorkErrorData>(kInvalidChildProgress));
        done_ = true;
    } else {
        switch (childStatus.result) {
            case WorkResult::Cancelled:
            case WorkResult::RetryableError:
                // The workflow queues that leaf again; the composite keeps its progress.
                break;
            case WorkResult::FatalError:
                status_ = childStatus;
                done_ = true;
                break;
            default: {
                ChildOutcome outcome = ComputeStatus(child, childStatus);
                done_ = outcome.done;
                status_ = std::move(outcome.status);
                break;
            }
        }
    }

    if (done_) {
        // Only fatal errors carry their payload upward.
        if (status_.result != WorkResult::FatalError) status_.data.reset();
        status_.retry = false;
        const WorkStatus report = status_;
        lock.unlock();
        NotifyComplete(report);
        return;
    }

    if (status_.result == WorkResult::RetryableError) {
        status_.retry = CanRetry();
        if (!status_.retry) {
            const WorkStatus report = status_;
            lock.unlock();
            NotifyComplete(report);
            lock.lock();
        }
        // Queued again either way: it runs at once when budget was left, else when the workflow resumes.
        Restart();
    }
}

}  // namespace qelt
