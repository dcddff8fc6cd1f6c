#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace qelt {

class HttpProxy;
class HttpRequestPool;

// The requests of one transfer (or of the analytics manager): a pool of reusable requests, fixed at construction
// and possibly null, and the proxy source looked up once for the session, null until first needed.
class HttpSession {
public:
    explicit HttpSession(std::shared_ptr<HttpRequestPool> pool) : pool_(std::move(pool)) {}
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    const std::shared_ptr<HttpRequestPool>& GetPool() const { return pool_; }
    std::shared_ptr<HttpProxy> GetProxy() const;
    void SetProxy(std::shared_ptr<HttpProxy> proxy);

private:
    const std::shared_ptr<HttpRequestPool> pool_;
    mutable std::mutex mutex_;  // guards proxy_ only
    std::shared_ptr<HttpProxy> proxy_;
};

class HttpSessionFactory {
public:
    HttpSessionFactory() = default;
    virtual ~HttpSessionFactory() = default;
    HttpSessionFactory(const HttpSessionFactory&) = delete;
    HttpSessionFactory& operator=(const HttpSessionFactory&) = delete;

    virtual std::shared_ptr<HttpSession> Create() = 0;
};

// Each session gets a pool of its own, reused first in, first out.
class RoundRobinHttpSessionFactory : public HttpSessionFactory {
public:
    std::shared_ptr<HttpSession> Create() override;
};

}  // namespace qelt
