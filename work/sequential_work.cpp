#include "work/sequential_work.h"

namespace qelt {

void SequentialWork::ResetSequence() {
    std::lock_guard lock(Mutex());
    ListCompositeWork::Reset();
    current_ = 0;
}

void SequentialWork::Reset() {
    ResetSequence();
}

void SequentialWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    ChildrenToQueue().front()->QueueAvailableWork(std::move(workflow));
}

bool SequentialWork::IsExpectedChild(const std::shared_ptr<Work>& child) {
    return current_ < Children().size() && Children()[current_] == child;
}

ChildOutcome SequentialWork::ComputeStatus(const std::shared_ptr<Work>&, const WorkStatus& childStatus) {
    if (childStatus.result == WorkResult::Failure || current_ + 1 == Children().size())
        return ChildOutcome::Of(childStatus);
    ++current_;
    QueueOnWorkflow(*Children()[current_]);
    return ChildOutcome::NotDone();
}

bool LimitedRetrySequentialWork::CanRetry() {
    std::lock_guard lock(Mutex());
    if (retriesUsed_ >= maxRetries_) return false;
    ++retriesUsed_;
    return true;
}

unsigned LimitedRetrySequentialWork::RetriesUsed() const {
    std::lock_guard lock(Mutex());
    return retriesUsed_;
}

void LimitedRetrySequentialWork::Reset() {
    std::lock_guard lock(Mutex());
    retriesUsed_ = 0;
    ResetSequence();
}

ChildOutcome LimitedRetrySequentialWork::ComputeStatus(const std::shared_ptr<Work>& child,
                                                       const WorkStatus& childStatus) {
    if (childStatus.result == WorkResult::Failure)
        return ChildOutcome{false, WorkStatus(WorkResult::RetryableError, childStatus.data)};
    return SequentialWork::ComputeStatus(child, childStatus);
}

void LimitedRetrySequentialWork::Restart() {
    std::lock_guard lock(Mutex());
    ResetSequence();
    if (auto workflow = GetWorkflow()) QueueAvailableWork(std::move(workflow));
}

}  // namespace qelt
