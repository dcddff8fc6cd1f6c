#pragma once

#include <atomic>

#include "work/work.h"

namespace qelt {

// A leaf with a budget of in-place retries: a RetryableError is retried at once while budget is left; Reset (done
// each time the workflow queues the leaf) restores the budget.
class LimitedRetrySimpleWork : public SimpleWork {
public:
    // Consumes one retry while any is left.
    bool CanRetry() override;
    // Clears the cancel flag and restores the budget.
    void Reset() override;

    unsigned MaxRetries() const { return maxRetries_; }
    unsigned RetriesUsed() const { return retriesUsed_.load(std::memory_order_relaxed); }

protected:
    explicit LimitedRetrySimpleWork(unsigned maxRetries) : maxRetries_(maxRetries) {}

private:
    const unsigned maxRetries_;
    // Used on the pool thread running the work and reset by the workflow when it queues the work again.
    std::atomic<unsigned> retriesUsed_{0};
};

}  // namespace qelt
