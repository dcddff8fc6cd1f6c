#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "http/http_request.h"

namespace qelt {

// Owns reusable requests and hands out idle ones re-armed for new params.
class HttpRequestPool {
public:
    HttpRequestPool() = default;
    virtual ~HttpRequestPool() = default;
    HttpRequestPool(const HttpRequestPool&) = delete;
    HttpRequestPool& operator=(const HttpRequestPool&) = delete;

    // Registers a request as owned; with available true it is also idle at once.
    virtual void Add(std::shared_ptr<HttpRequest> request, bool available) = 0;
    // An idle request already re-armed for params and proxy, or null when none is idle.
    virtual std::shared_ptr<HttpRequest> Acquire(const HttpRequestParams& params, const std::string& proxy) = 0;
    // Makes an owned request idle again; a request the pool does not own is ignored.
    virtual void Release(const std::shared_ptr<HttpRequest>& request) = 0;
};

// Hands out the request idle longest (strict first in, first out), so every idle request and its open connection
// is used in turn. A request whose Reset fails (still running) is forgotten and the next idle one tried. No size
// limit: the pool grows to the most requests ever in use at once. All operations may be called from any thread;
// Acquire calls the candidate's Reset with the pool lock held (requests never call back into the pool).
class RoundRobinHttpRequestPool : public HttpRequestPool {
public:
    void Add(std::shared_ptr<HttpRequest> request, bool available) override;
    std::shared_ptr<HttpRequest> Acquire(const HttpRequestParams& params, const std::string& proxy) override;
    void Release(const std::shared_ptr<HttpRequest>& request) override;

    std::size_t OwnedCount() const;
    std::size_t IdleCount() const;

private:
    void MakeIdle(const std::shared_ptr<HttpRequest>& request);

    mutable std::recursive_mutex mutex_;
    std::unordered_set<std::shared_ptr<HttpRequest>> owned_;
    // A request is in idle_ exactly when it is in idleQueue_, and only owned requests are idle.
    std::unordered_set<std::shared_ptr<HttpRequest>> idle_;
    std::deque<std::shared_ptr<HttpRequest>> idleQueue_;
};

// What CreateRequest hands out for a pooled request: forwards everything to the real request and returns it to
// its pool when destroyed (on whatever thread lets go last), whatever state it ended in.
class PooledHttpRequestWrapper : public HttpRequest {
public:
    PooledHttpRequestWrapper(std::shared_ptr<HttpRequest> request, std::shared_ptr<HttpRequestPool> pool);
    ~PooledHttpRequestWrapper() override;

    HttpRequestStatus Perform() override { return request_->Perform(); }
    HttpRequestStatus GetStatus() override { return request_->GetStatus(); }
    void Cancel() override { request_->Cancel(); }
    bool Reset(const HttpRequestParams& params, const std::string& proxy) override {
        return request_->Reset(params, proxy);
    }

    const std::shared_ptr<HttpRequest>& Wrapped() const { return request_; }

private:
    std::shared_ptr<HttpRequest> request_;
    std::shared_ptr<HttpRequestPool> pool_;
};

}  // namespace qelt
