#pragma once

#include <memory>
#include <string>

namespace qelt {

class HttpProxyFactory;
class HttpRequest;
struct HttpRequestParams;
class HttpSession;

// Creates the requests every caller performs. Held by the composition root; the proxy factory it is given must
// outlive it. CreateRequest may be called from any thread, also on a shared session.
class HttpRequestFactory {
public:
    explicit HttpRequestFactory(HttpProxyFactory* proxyFactory) : proxyFactory_(proxyFactory) {}
    virtual ~HttpRequestFactory() = default;
    HttpRequestFactory(const HttpRequestFactory&) = delete;
    HttpRequestFactory& operator=(const HttpRequestFactory&) = delete;

    // A new, unpooled request for params going through proxy ("" = direct).
    virtual std::shared_ptr<HttpRequest> Create(const HttpRequestParams& params, const std::string& proxy) = 0;

    // A request ready to Perform. With a session that has a pool, the pool's longest-idle request is re-armed (or
    // a new one made) and returned in a wrapper that gives it back when destroyed, and the proxy source is looked
    // up once for the session. Without a session or pool, a fresh request with a fresh proxy lookup. Exceptions of
    // request construction and of the proxy source propagate.
    std::shared_ptr<HttpRequest> CreateRequest(const HttpRequestParams& params,
                                               const std::shared_ptr<HttpSession>& session);

    HttpProxyFactory* ProxyFactory() const { return proxyFactory_; }

private:
    HttpProxyFactory* const proxyFactory_;
};

class CurlHttpRequestFactory : public HttpRequestFactory {
public:
    using HttpRequestFactory::HttpRequestFactory;
    std::shared_ptr<HttpRequest> Create(const HttpRequestParams& params, const std::string& proxy) override;
};

}  // namespace qelt
