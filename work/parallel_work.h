#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>

#include "work/list_composite_work.h"

namespace qelt {

// Runs all its children at once (as far as the workflow's limit allows). Succeeds when every child succeeded;
// one Failure makes the whole work a FatalError carrying that child's data, while siblings may still be running.
class ParallelWork : public ListCompositeWork {
public:
    ParallelWork();

    // Adding the same child twice has no effect.
    void AddWork(std::shared_ptr<Work> child) override;

    void Reset() override;
    // Queues every child in insertion order.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

protected:
    bool IsExpectedChild(const std::shared_ptr<Work>& child) override;
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;

private:
    // Child -> has it finished.
    std::unordered_map<std::shared_ptr<Work>, bool> finished_;
    std::size_t finishedCount_ = 0;
};

}  // namespace qelt
