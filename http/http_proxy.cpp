#include "http/http_proxy.h"

#include <Poco/URI.h>

#include <boost/xpressive/xpressive.hpp>
#include <vector>

#include "http/http_request.h"

namespace qelt {

namespace {

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : list) {
        if (c == ';' || c == ' ') {
            if (!current.empty()) tokens.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool IsBypassed(const std::string& host, const std::string& bypassList) {
    namespace xp = boost::xpressive;
    for (const auto& entry : SplitList(bypassList)) {
        const std::string pattern = ReplaceAll(ReplaceAll("^" + entry + "$", ".", "\\."), "*", ".*");
        if (xp::regex_match(host, xp::sregex::compile(pattern))) return true;
    }
    return false;
}

}  // namespace

std::string SelectProxy(const HttpRequestParams& params, const std::string& proxyList,
                        const std::string& bypassList) {
    const std::string host = Poco::URI(params.Url).getHost();
    const auto tokens = SplitList(proxyList);
    if (tokens.empty()) return {};

    std::string httpProxy;
    std::string plainProxy;
    for (const auto& token : tokens) {
        if (httpProxy.empty() && token.starts_with("http=")) {
            httpProxy = token.substr(5);
        } else if (plainProxy.empty() && token.find('=') == std::string::npos) {
            plainProxy = token;
        }
    }
    const std::string& chosen = httpProxy.empty() ? plainProxy : httpProxy;
    if (chosen == ":" || chosen == "::") return {};
    if (IsBypassed(host, bypassList)) return {};
    return chosen;
}

std::string ManualHttpProxy::GetProxy(const HttpRequestParams& params) {
    return SelectProxy(params, proxyList_, bypassList_);
}

}  // namespace qelt
