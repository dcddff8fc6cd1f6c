#pragma once

#include <memory>
#include <mutex>

#include "work/composite_work.h"

namespace qelt {

// A slot for one child supplied after the tree was built and attached (the file works, once the package manifest
// is known). A slot still empty when it is queued or reset is filled with a NoOpWork, so it succeeds at once.
class DeferredWork : public CompositeWork {
public:
    DeferredWork() = default;

    // Fills the slot with `child`, or with a new NoOpWork when `child` is null, and attaches it to the workflow.
    // False, changing nothing, when the slot is already filled. Any thread may call it.
    bool SetWork(std::shared_ptr<Work> child);
    // The child, or null while the slot is empty.
    std::shared_ptr<Work> GetWork() const;

    void Describe(ptree& out) const override;
    void Reset() override;
    void OnAttach(std::shared_ptr<Workflow> workflow) override;
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

protected:
    bool IsExpectedChild(const std::shared_ptr<Work>& child) override;
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;

private:
    // Taken inside the composite mutex, never around it; held while a new child is wired so that nobody queues
    // it before its parent and workflow are registered.
    mutable std::mutex childMutex_;
    std::shared_ptr<Work> child_;
};

}  // namespace qelt
