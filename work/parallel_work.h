#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <unordered_map>

#include "work/composite_work.h"

namespace qelt {

// Runs all its children at once (as far as the workflow's limit allows). Succeeds when every child succeeded;
// one Failure makes the whole work a FatalError carrying that child's data, while siblings may still be running.
//
// Like a sequence, a parallel work without children runs one NoOpWork and succeeds, rather than never reporting.
class ParallelWork : public CompositeWork {
public:
    ParallelWork();

    // Adds a child; adding the same child twice has no effect. Children are added while the tree is built.
    void AddWork(std::shared_ptr<Work> child);

    void Reset() override;
    void OnAttach(std::shared_ptr<Workflow> workflow) override;
    // Queues every child in insertion order.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

    std::size_t ChildCount() const;

protected:
    bool IsExpectedChild(const std::shared_ptr<Work>& child) override;
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;

private:
    // Child -> has it finished.
    std::unordered_map<std::shared_ptr<Work>, bool> finished_;
    std::deque<std::shared_ptr<Work>> children_;
    std::size_t finishedCount_ = 0;
};

}  // namespace qelt
