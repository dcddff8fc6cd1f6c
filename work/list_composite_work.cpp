#include "work/list_composite_work.h"

#include "work/no_op_work.h"

namespace qelt {

void ListCompositeWork::AddWork(std::shared_ptr<Work> child) {
    std::lock_guard lock(Mutex());
    children_.push_back(child);
    AddChild(child);
}

std::size_t ListCompositeWork::ChildCount() const {
    std::lock_guard lock(Mutex());
    return children_.size();
}

void ListCompositeWork::Reset() {
    std::lock_guard lock(Mutex());
    CompositeWork::Reset();
    for (auto& child : children_)
        child->Reset();
}

void ListCompositeWork::OnAttach(std::shared_ptr<Workflow> workflow) {
    std::lock_guard lock(Mutex());
    for (auto& child : children_)
        child->Attach(workflow);
}

const std::vector<std::shared_ptr<Work>>& ListCompositeWork::ChildrenToQueue() {
    if (children_.empty()) AddWork(std::make_shared<NoOpWork>());
    return children_;
}

}  // namespace qelt
