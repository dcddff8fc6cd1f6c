#include "http/http_request_factory.h"

#include "http/curl_http_request.h"
#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_pool.h"
#include "http/http_session.h"

namespace qelt {

std::shared_ptr<HttpRequest> HttpRequestFactory::CreateRequest(const HttpRequestParams& params,
                                                               const std::shared_ptr<HttpSession>& session) {
    if (session == nullptr || session->GetPool() == nullptr) {
        return Create(params, proxyFactory_->Create()->GetProxy(params));
    }
    std::shared_ptr<HttpProxy> proxySource = session->GetProxy();
    if (proxySource == nullptr) {
        // Two threads racing here may both create a source; the one stored last stays, both answer alike.
        proxySource = proxyFactory_->Create();
        session->SetProxy(proxySource);
    }
    const std::string proxy = proxySource->GetProxy(params);

    const std::shared_ptr<HttpRequestPool>& pool = session->GetPool();
    std::shared_ptr<HttpRequest> request = pool->Acquire(params, proxy);
    if (request == nullptr) {
        request = Create(params, proxy);
        pool->Add(request, false);
    }
    return std::make_shared<PooledHttpRequestWrapper>(std::move(request), pool);
}

std::shared_ptr<HttpRequest> CurlHttpRequestFactory::Create(const HttpRequestParams& params,
                                                            const std::string& proxy) {
    return std::make_shared<CurlHttpRequest>(params, proxy);
}

}  // namespace qelt
