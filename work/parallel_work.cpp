#include "work/parallel_work.h"

namespace qelt {

ParallelWork::ParallelWork() : finished_(11) {
    finished_.max_load_factor(1.0f);
}

void ParallelWork::AddWork(std::shared_ptr<Work> child) {
    std::lock_guard lock(Mutex());
    if (!finished_.emplace(child, false).second) return;
    ListCompositeWork::AddWork(std::move(child));
}

void ParallelWork::Reset() {
    std::lock_guard lock(Mutex());
    ListCompositeWork::Reset();
    finishedCount_ = 0;
    for (auto& entry : finished_)
        entry.second = false;
}

void ParallelWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    for (auto& child : ChildrenToQueue())
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
    if (++finishedCount_ == Children().size()) return ChildOutcome::Of(WorkStatus(WorkResult::Success));
    return ChildOutcome::NotDone();
}

}  // namespace qelt
