#include "work/parallel_work.h"

#include "work/no_op_work.h"

namespace qelt {

ParallelWork::ParallelWork() : finished_(11) {
    finished_.max_load_factor(1.0f);
}

void ParallelWork::AddWork(std::shared_ptr<Work> child) {
    std::lock_guard lock(Mutex());
    if (!finished_.emplace(child, false).second) return;
    children_.push_back(child);
    AddChild(child);
}

std::size_t ParallelWork::ChildCount() const {
    std::lock_guard lock(Mutex());
    return children_.size();
}

void ParallelWork::Reset() {
    std::lock_guard lock(Mutex());
    CompositeWork::Reset();
    finishedCount_ = 0;
    for (auto& entry : finished_)
        entry.second = false;
    for (auto& child : children_)
        child->Reset();
}

void ParallelWork::OnAttach(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    for (auto& child : children_)
        child->Attach(workflow);
}

void ParallelWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    if (children_.empty()) AddWork(std::make_shared<NoOpWork>());
    for (auto& child : children_)
        child->QueueAvailableWork(workflow);
}

bool ParallelWork::IsExpectedChild(const std::shared_ptr<Work>& child) {
    const auto it = finished_.find(child);
    return it != finished_.end() && !it->second;
}

ChildOutcome ParallelWork::ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) {
    if (childStatus.result == WorkResult::Failure)
        return ChildOutcome::Of(WorkStatus(WorkResult::FatalError, childStatus.data));
    finished_[child] = true;
    if (++finishedCount_ == children_.size()) return ChildOutcome::Of(WorkStatus(WorkResult::Success));
    return ChildOutcome::NotDone();
}

}  // namespace qelt
