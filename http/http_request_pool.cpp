#include "http/http_request_pool.h"

namespace qelt {

void RoundRobinHttpRequestPool::Add(std::shared_ptr<HttpRequest> request, bool available) {
    std::lock_guard lock(mutex_);
    const bool inserted = owned_.insert(request).second;
    if (inserted && available) MakeIdle(request);
}

void RoundRobinHttpRequestPool::MakeIdle(const std::shared_ptr<HttpRequest>& request) {
    if (idle_.insert(request).second) idleQueue_.push_back(request);
}

std::shared_ptr<HttpRequest> RoundRobinHttpRequestPool::Acquire(const HttpRequestParams& params,
                                                                const std::string& proxy) {
    std::lock_guard lock(mutex_);
    // A loop where the design has recursion: the same behaviour without a stack that grows with forgotten
    // requests.
    while (!idleQueue_.empty()) {
        std::shared_ptr<HttpRequest> request = std::move(idleQueue_.front());
        idleQueue_.pop_front();
        idle_.erase(request);
        if (request->Reset(params, proxy)) return request;
        owned_.erase(request);
    }
    return nullptr;
}

void RoundRobinHttpRequestPool::Release(const std::shared_ptr<HttpRequest>& request) {
    std::lock_guard lock(mutex_);
    if (owned_.contains(request)) MakeIdle(request);
}

std::size_t RoundRobinHttpRequestPool::OwnedCount() const {
    std::lock_guard lock(mutex_);
    return owned_.size();
}

std::size_t RoundRobinHttpRequestPool::IdleCount() const {
    std::lock_guard lock(mutex_);
    return idleQueue_.size();
}

PooledHttpRequestWrapper::PooledHttpRequestWrapper(std::shared_ptr<HttpRequest> request,
                                                   std::shared_ptr<HttpRequestPool> pool)
    : HttpRequest(HttpRequestParams("", nullptr), ""), request_(std::move(request)), pool_(std::move(pool)) {}

PooledHttpRequestWrapper::~PooledHttpRequestWrapper() {
    // Runs on worker threads and must not throw: a request that cannot be queued again (out of memory) is simply
    // not reused.
    try {
        pool_->Release(request_);
    } catch (...) {
    }
}

}  // namespace qelt
