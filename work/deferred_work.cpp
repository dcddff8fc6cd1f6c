#include "work/deferred_work.h"

#include <boost/property_tree/ptree.hpp>

#include "work/no_op_work.h"

namespace qelt {

bool DeferredWork::SetWork(std::shared_ptr<Work> child) {
    std::lock_guard lock(childMutex_);
    if (child_) return false;
    child_ = child ? std::move(child) : std::make_shared<NoOpWork>();
    AddChild(child_);
    return true;
}

std::shared_ptr<Work> DeferredWork::GetWork() const {
    std::lock_guard lock(childMutex_);
    return child_;
}

void DeferredWork::Describe(ptree& out) const {
    out.put("name", "DeferredWork");
}

void DeferredWork::Reset() {
    std::lock_guard lock(Mutex());
    CompositeWork::Reset();
    SetWork(nullptr);
    GetWork()->Reset();
}

void DeferredWork::OnAttach(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(childMutex_);
    if (child_) child_->Attach(std::move(workflow));
}

void DeferredWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    SetWork(nullptr);
    GetWork()->QueueAvailableWork(std::move(workflow));
}

bool DeferredWork::IsExpectedChild(const std::shared_ptr<Work>& child) {
    return child == GetWork();
}

ChildOutcome DeferredWork::ComputeStatus(const std::shared_ptr<Work>&, const WorkStatus& childStatus) {
    return ChildOutcome::Of(childStatus);
}

}  // namespace qelt
