#include "work/limited_retry_simple_work.h"

namespace qelt {

bool LimitedRetrySimpleWork::CanRetry() {
    const unsigned used = retriesUsed_.load(std::memory_order_relaxed);
    if (used >= maxRetries_) return false;
    retriesUsed_.store(used + 1, std::memory_order_relaxed);
    return true;
}

void LimitedRetrySimpleWork::Reset() {
    SimpleWork::Reset();
    retriesUsed_.store(0, std::memory_order_relaxed);
}

}  // namespace qelt
