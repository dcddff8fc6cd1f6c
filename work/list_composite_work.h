#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "work/composite_work.h"

namespace qelt {

// The common part of sequences and parallel works: a list of children in the order added, attached and reset
// together. A list without children gets one NoOpWork when it is queued, so that it reports like a deferred work
// that was never supplied instead of leaving its parent waiting forever.
class ListCompositeWork : public CompositeWork {
public:
    // Appends a child. Children are added while the tree is built, before it is queued.
    virtual void AddWork(std::shared_ptr<Work> child);

    // Not finished, and every child reset.
    void Reset() override;
    void OnAttach(std::shared_ptr<Workflow> workflow) override;

    std::size_t ChildCount() const;

protected:
    ListCompositeWork() = default;

    // The children; read with the mutex held.
    const std::vector<std::shared_ptr<Work>>& Children() const { return children_; }
    // The children to queue, after adding the NoOpWork to an empty list. Called with the mutex held.
    const std::vector<std::shared_ptr<Work>>& ChildrenToQueue();

private:
    std::vector<std::shared_ptr<Work>> children_;
};

}  // namespace qelt
