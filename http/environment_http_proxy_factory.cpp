#include "http/environment_http_proxy_factory.h"

#include <cstdlib>

namespace qelt {

namespace {

std::string ReadVariable(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}

}  // namespace

std::string BypassListFromNoProxy(const std::string& noProxy) {
    std::string result;
    std::string entry;
    auto flush = [&] {
        if (entry.empty()) return;
        if (entry.front() == '.') entry.insert(entry.begin(), '*');
        if (!result.empty()) result += ';';
        result += entry;
        entry.clear();
    };
    for (char c : noProxy) {
        if (c == ',' || c == ';' || c == ' ' || c == '\t') {
            flush();
        } else {
            entry += c;
        }
    }
    flush();
    return result;
}

std::shared_ptr<HttpProxy> EnvironmentHttpProxyFactory::Create() {
    const std::string proxyList = ReadVariable("http_proxy", "HTTP_PROXY");
    if (proxyList.empty()) return std::make_shared<EmptyHttpProxy>();
    return std::make_shared<ManualHttpProxy>(proxyList,
                                             BypassListFromNoProxy(ReadVariable("no_proxy", "NO_PROXY")));
}

}  // namespace qelt
