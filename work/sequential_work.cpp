#include "work/sequential_work.h"

#include "work/no_op_work.h"

namespace qelt {

void SequentialWork::AddWork(std::shared_ptr<Work> child) {
    std::lock_guard lock(Mutex());
    children_.push_back(child);
    AddChild(child);
}

std::size_t SequentialWork::ChildCount() const {
    std::lock_guard lock(Mutex());
    return children_.size();
}

void SequentialWork::ResetSequence() {
    std::lock_guard lock(Mutex());
    CompositeWork::Reset();
    current_ = 0;
    for (auto& child : children_)
        child->Reset();
}

void SequentialWork::Reset() {
    ResetSequence();
}

void SequentialWork::OnAttach(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    for (auto& child : children_)
        child->Attach(workflow);
}

void SequentialWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    if (children_.empty()) AddWork(std::make_shared<NoOpWork>());
    children_.front()->QueueAvailableWork(std::move(workflow));
}

bool SequentialWork::IsExpectedChild(const std::shared_ptr<Work>& child) {
    return !IsDone() && !children_.empty() && children_[current_] == child;
}

ChildOutcome SequentialWork::ComputeStatus(const std::shared_ptr<Work>&, const WorkStatus& childStatus) {
    if (childStatus.result == WorkResult::Failure || current_ + 1 == children_.size())
        return ChildOutcome::Of(childStatus);
    ++current_;
    QueueOnWorkflow(*children_[current_]);
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
