#include "work/conditional_work.h"

#include <stdexcept>

namespace qelt {

ConditionalWork::ConditionalWork(std::shared_ptr<Work> condition, std::shared_ptr<Work> onSuccess,
                                 std::shared_ptr<Work> onFailure)
    : condition_(std::move(condition)),
      onSuccess_(std::move(onSuccess)),
      onFailure_(std::move(onFailure)),
      current_(condition_) {
    for (const auto* child : {&condition_, &onSuccess_, &onFailure_})
        if (*child) AddChild(*child);
}

void ConditionalWork::Reset() {
    std::lock_guard lock(Mutex());
    CompositeWork::Reset();
    current_ = condition_;
    for (const auto* child : {&condition_, &onSuccess_, &onFailure_})
        if (*child) (*child)->Reset();
}

void ConditionalWork::OnAttach(std::shared_ptr<Workflow> workflow) {
    for (const auto* child : {&condition_, &onFailure_, &onSuccess_})
        if (*child) (*child)->Attach(workflow);
}

void ConditionalWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    if (!condition_ || !onSuccess_ || !onFailure_)
        throw std::logic_error("ConditionalWork::QueueAvailableWork called with incomplete children");
    condition_->QueueAvailableWork(std::move(workflow));
}

bool ConditionalWork::IsExpectedChild(const std::shared_ptr<Work>& child) {
    return !IsDone() && child == current_;
}

ChildOutcome ConditionalWork::ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) {
    if (child != condition_) return ChildOutcome::Of(childStatus);
    current_ = childStatus.result == WorkResult::Success ? onSuccess_ : onFailure_;
    QueueOnWorkflow(*current_);
    return ChildOutcome::NotDone();
}

}  // namespace qelt
