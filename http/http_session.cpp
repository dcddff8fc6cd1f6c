#include "http/http_session.h"

#include "http/http_proxy.h"
#include "http/http_request_pool.h"

namespace qelt {

std::shared_ptr<HttpProxy> HttpSession::GetProxy() const {
    std::lock_guard lock(mutex_);
    return proxy_;
}

void HttpSession::SetProxy(std::shared_ptr<HttpProxy> proxy) {
    std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

std::shared_ptr<HttpSession> RoundRobinHttpSessionFactory::Create() {
    return std::make_shared<HttpSession>(std::make_shared<RoundRobinHttpRequestPool>());
}

}  // namespace qelt
