#pragma once

#include <memory>
#include <string>
#include <utility>

namespace qelt {

struct HttpRequestParams;

// Answers, for each request, the proxy to hand to libcurl: "host:port" (or a proxy URL), "" meaning direct.
// A source is shared by every request of a session and may be asked from several threads at once.
class HttpProxy {
public:
    virtual ~HttpProxy() = default;
    // Only params.Url is read.
    virtual std::string GetProxy(const HttpRequestParams& params) = 0;
};

// No proxy for anything.
class EmptyHttpProxy : public HttpProxy {
public:
    std::string GetProxy(const HttpRequestParams&) override { return {}; }
};

// A fixed proxy list and bypass list, as a user entered them; answers SelectProxy. Throws what SelectProxy throws
// (an unparsable URL, a bypass entry that is not a valid pattern).
class ManualHttpProxy : public HttpProxy {
public:
    ManualHttpProxy(std::string proxyList, std::string bypassList)
        : proxyList_(std::move(proxyList)), bypassList_(std::move(bypassList)) {}
    std::string GetProxy(const HttpRequestParams& params) override;

    const std::string& ProxyList() const { return proxyList_; }
    const std::string& BypassList() const { return bypassList_; }

private:
    const std::string proxyList_;
    const std::string bypassList_;
};

// Chooses the proxy for params.Url from a proxy list and a bypass list, both separated by ';' or spaces.
//
// The list's first "http=" entry wins, else its first entry without '='; entries for other schemes are skipped.
// An empty choice, ":" or "::" means direct. Each bypass entry is a pattern on the URL's host where '.' is
// literal, '*' matches any run of characters and every other character keeps its regular-expression meaning; the
// whole host must match (case-sensitive), and a matching host goes direct.
//
// Throws Poco::Exception when the URL cannot be parsed and boost::xpressive::regex_error for an invalid entry.
std::string SelectProxy(const HttpRequestParams& params, const std::string& proxyList,
                        const std::string& bypassList);

// Reads the user's proxy settings once and returns a source for them; called once per session.
class HttpProxyFactory {
public:
    HttpProxyFactory() = default;
    virtual ~HttpProxyFactory() = default;
    HttpProxyFactory(const HttpProxyFactory&) = delete;
    HttpProxyFactory& operator=(const HttpProxyFactory&) = delete;

    virtual std::shared_ptr<HttpProxy> Create() = 0;
};

// Every session goes direct: for platforms without proxy settings and for tests.
class EmptyHttpProxyFactory : public HttpProxyFactory {
public:
    std::shared_ptr<HttpProxy> Create() override { return std::make_shared<EmptyHttpProxy>(); }
};

}  // namespace qelt
