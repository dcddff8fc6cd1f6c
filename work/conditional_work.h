#pragma once

#include <memory>

#include "work/composite_work.h"

namespace qelt {

// Runs a condition work, then one of two branches: onSuccess when the condition reported Success, onFailure
// otherwise (a Failure; fatal errors end the whole work before a branch is chosen). Reports the branch's result.
class ConditionalWork : public CompositeWork {
public:
    // Any of the three may be null while the tree is built; queueing an incomplete conditional work throws.
    ConditionalWork(std::shared_ptr<Work> condition, std::shared_ptr<Work> onSuccess,
                    std::shared_ptr<Work> onFailure);

    void Reset() override;
    // Attaches the condition, then onFailure, then onSuccess.
    void OnAttach(std::shared_ptr<Workflow> workflow) override;
    // Queues the condition only. Throws std::logic_error when a child is missing.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

protected:
    bool IsExpectedChild(const std::shared_ptr<Work>& child) override;
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;

private:
    const std::shared_ptr<Work> condition_;
    const std::shared_ptr<Work> onSuccess_;
    const std::shared_ptr<Work> onFailure_;
    // The child now running: the condition, then the chosen branch.
    std::shared_ptr<Work> current_;
};

}  // namespace qelt
