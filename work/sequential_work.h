#pragma once

#include <cstddef>
#include <memory>

#include "work/list_composite_work.h"

namespace qelt {

// Runs its children one after another, in the order added; the first Failure ends it with that Failure.
class SequentialWork : public ListCompositeWork {
public:
    SequentialWork() = default;

    void Reset() override;
    // Queues the first child only; the next one is queued when its predecessor succeeds.
    void QueueAvailableWork(std::shared_ptr<Workflow> workflow) override;

protected:
    bool IsExpectedChild(const std::shared_ptr<Work>& child) override;
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;
    // The sequence's own reset without anything a subclass adds.
    void ResetSequence();

private:
    std::size_t current_ = 0;
};

// A sequence that starts over when a step fails, within a budget that spans the restarts. A failed step becomes a
// RetryableError of the whole sequence: while budget is left the sequence restarts silently; when it is used up
// it reports the RetryableError (which pauses the workflow) and queues itself again for when the workflow
// resumes.
class LimitedRetrySequentialWork : public SequentialWork {
public:
    explicit LimitedRetrySequentialWork(unsigned maxRetries) : maxRetries_(maxRetries) {}

    // Consumes one retry while any is left.
    bool CanRetry() override;
    // Restores the budget and resets the sequence.
    void Reset() override;

    unsigned MaxRetries() const { return maxRetries_; }
    unsigned RetriesUsed() const;

protected:
    ChildOutcome ComputeStatus(const std::shared_ptr<Work>& child, const WorkStatus& childStatus) override;
    // Resets the sequence but keeps the budget used so far.
    void Restart() override;

private:
    const unsigned maxRetries_;
    unsigned retriesUsed_ = 0;
};

}  // namespace qelt
