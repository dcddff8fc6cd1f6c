#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/http_proxy.h"

namespace qelt {

// Time limits of automatic proxy discovery, in milliseconds, in the order resolve, connect, send, receive.
struct HttpProxyTimeouts {
    std::int32_t resolveMs = 5000;
    std::int32_t connectMs = 5000;
    std::int32_t sendMs = 5000;
    std::int32_t receiveMs = 5000;
};

// The proxy settings of a POSIX user: http_proxy (else HTTP_PROXY) is the proxy list and no_proxy (else NO_PROXY)
// the bypass list, converted to the bypass format (',' separates like ';', a leading '.' becomes "*."). Without a
// proxy variable every request goes direct (EmptyHttpProxy), whatever no_proxy says. An empty variable counts as
// unset.
//
// The environment is read at each Create, so a new session sees changed settings; sessions cache their source.
// There is no automatic discovery on POSIX: the timeouts are kept for a discovering source and not used here.
class EnvironmentHttpProxyFactory : public HttpProxyFactory {
public:
    explicit EnvironmentHttpProxyFactory(HttpProxyTimeouts timeouts = {}) : timeouts_(timeouts) {}

    std::shared_ptr<HttpProxy> Create() override;

    const HttpProxyTimeouts& Timeouts() const { return timeouts_; }

private:
    const HttpProxyTimeouts timeouts_;
};

// no_proxy's comma list in the bypass format SelectProxy reads: "localhost,.local, 10.1.2.3" gives
// "localhost;*.local;10.1.2.3".
std::string BypassListFromNoProxy(const std::string& noProxy);

}  // namespace qelt
