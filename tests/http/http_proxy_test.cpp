#include "http/http_proxy.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <boost/xpressive/regex_error.hpp>
#include <cstdlib>
#include <sstream>

#include "http/curl_http_request.h"
#include "http/environment_http_proxy_factory.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

std::string Select(const std::string& url, const std::string& proxyList, const std::string& bypassList = "") {
    return SelectProxy(HttpRequestParams(url, nullptr), proxyList, bypassList);
}

TEST(SelectProxyTest, PrefersTheHttpEntryThenThePlainOne) {
    EXPECT_EQ(Select("http://node.example/a", "http=p1:80;https=p2:443"), "p1:80");
    EXPECT_EQ(Select("http://node.example/a", "p3:3128"), "p3:3128");
    EXPECT_EQ(Select("http://node.example/a", "https=p2:443"), "");
    EXPECT_EQ(Select("http://node.example/a", "ftp=f:21 p4:8080"), "p4:8080");
    EXPECT_EQ(Select("http://node.example/a", "p5:1;http=p6:2"), "p6:2");
    EXPECT_EQ(Select("http://node.example/a", "p7:1 p8:2"), "p7:1");
    EXPECT_EQ(Select("http://node.example/a", "http=p1:80;;  http=p9:1"), "p1:80");
}

TEST(SelectProxyTest, EmptyListsAndEmptyAddressesGoDirect) {
    EXPECT_EQ(Select("http://node.example/a", ""), "");
    EXPECT_EQ(Select("http://node.example/a", " ; ;"), "");
    EXPECT_EQ(Select("http://node.example/a", "http=:"), "");
    EXPECT_EQ(Select("http://node.example/a", "::"), "");
}

TEST(SelectProxyTest, BypassEntriesMatchTheWholeHostWithLiteralDots) {
    const std::string bypass = "*.local;10.*";
    EXPECT_EQ(Select("http://cache.local/x", "p:1", bypass), "");
    EXPECT_EQ(Select("http://10.1.2.3:8080/x", "p:1", bypass), "");
    EXPECT_EQ(Select("http://node.example/x", "p:1", bypass), "p:1");

    EXPECT_EQ(Select("http://nodeXexample/x", "p:1", "node.example"), "p:1");
    EXPECT_EQ(Select("http://a.node.example/x", "p:1", "node.example"), "p:1");
    EXPECT_EQ(Select("http://node.example/x", "p:1", "node.example"), "");
    // The URL's host is taken in lower case, as host names compare.
    EXPECT_EQ(Select("http://Node.Example/x", "p:1", "node.example"), "");
    EXPECT_EQ(Select("http://node.example/x", "p:1", "other.example node.example"), "");
    // Other pattern characters keep their meaning.
    EXPECT_EQ(Select("http://host7/x", "p:1", "host[0-9]"), "");
}

TEST(SelectProxyTest, UnparsableUrlsAndInvalidPatternsThrow) {
    EXPECT_THROW(Select("http://[::1/x", "p:1"), Poco::Exception);
    EXPECT_THROW(Select("http://node.example/x", "p:1", "a(b"), boost::xpressive::regex_error);
    ManualHttpProxy manual("p:1", "a(b");
    EXPECT_THROW(manual.GetProxy(HttpRequestParams("http://node.example/x", nullptr)),
                 boost::xpressive::regex_error);
}

TEST(BypassListFromNoProxyTest, ConvertsCommasAndLeadingDots) {
    EXPECT_EQ(BypassListFromNoProxy("localhost,.local, 10.1.2.3"), "localhost;*.local;10.1.2.3");
    EXPECT_EQ(BypassListFromNoProxy(""), "");
    EXPECT_EQ(BypassListFromNoProxy(",,"), "");
    EXPECT_EQ(BypassListFromNoProxy("*"), "*");
}

// Saves the proxy variables and restores them, so cases do not leak into each other.
class ProxyEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            if (value != nullptr) saved_.emplace_back(name, value);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }

    static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"};
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(ProxyEnvironmentTest, NoProxyVariableMeansDirect) {
    setenv("no_proxy", "localhost", 1);
    EnvironmentHttpProxyFactory factory;
    const auto source = factory.Create();
    EXPECT_NE(std::dynamic_pointer_cast<EmptyHttpProxy>(source), nullptr);
    EXPECT_EQ(source->GetProxy(HttpRequestParams("http://node.example/", nullptr)), "");

    setenv("http_proxy", "", 1);
    EXPECT_NE(std::dynamic_pointer_cast<EmptyHttpProxy>(factory.Create()), nullptr);
}

TEST_F(ProxyEnvironmentTest, ProxyAndBypassComeFromTheEnvironment) {
    setenv("http_proxy", "http://proxy.example:3128", 1);
    setenv("NO_PROXY", "localhost,.local", 1);
    EnvironmentHttpProxyFactory factory(HttpProxyTimeouts{1, 2, 3, 4});
    EXPECT_EQ(factory.Timeouts().receiveMs, 4);
    const auto source = factory.Create();
    const auto manual = std::dynamic_pointer_cast<ManualHttpProxy>(source);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(manual->ProxyList(), "http://proxy.example:3128");
    EXPECT_EQ(manual->BypassList(), "localhost;*.local");
    EXPECT_EQ(source->GetProxy(HttpRequestParams("http://node.example/", nullptr)), "http://proxy.example:3128");
    EXPECT_EQ(source->GetProxy(HttpRequestParams("http://cache.local/", nullptr)), "");
    EXPECT_EQ(source->GetProxy(HttpRequestParams("http://localhost:8080/", nullptr)), "");

    // Lower case wins over upper case; a source keeps what it read.
    setenv("HTTP_PROXY", "upper:1", 1);
    setenv("no_proxy", "node.example", 1);
    EXPECT_EQ(source->GetProxy(HttpRequestParams("http://node.example/", nullptr)), "http://proxy.example:3128");
    EXPECT_EQ(factory.Create()->GetProxy(HttpRequestParams("http://node.example/", nullptr)), "");
    unsetenv("http_proxy");
    EXPECT_EQ(factory.Create()->GetProxy(HttpRequestParams("http://other.example/", nullptr)), "upper:1");
}

class ProxiedRequestTest : public ProxyEnvironmentTest {
protected:
    void SetUp() override {
        ProxyEnvironmentTest::SetUp();
        origin_.AddFile("/file", content_);
        proxy_.SetProxyMode(true);
    }

    test::TestHttpServer origin_;
    test::TestHttpServer proxy_;
    const std::string content_ = test::MakeTestContent(10000);
    std::ostringstream body_;
    HttpStringstreamWriter writer_{body_};
};

TEST_F(ProxiedRequestTest, RequestGoesThroughTheProxyItIsGiven) {
    HttpRequestParams params(origin_.Url("/file"), &writer_);
    params.RangeStart = 10;
    params.RangeEnd = 29;
    setenv("no_proxy", "*", 1);  // libcurl's own reading of the environment must not interfere
    CurlHttpRequest request(params, proxy_.ProxyAddress());
    const auto status = request.Perform();
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(body_.str(), content_.substr(10, 20));

    ASSERT_EQ(proxy_.RequestCount(), 1u);
    EXPECT_EQ(proxy_.Requests()[0].RequestLine(), "GET " + origin_.Url("/file") + " HTTP/1.1");
    ASSERT_EQ(origin_.RequestCount(), 1u);
    EXPECT_EQ(origin_.Requests()[0].target, "/file");
    EXPECT_EQ(origin_.Requests()[0].Header("Range"), "bytes=10-29");
}

TEST_F(ProxiedRequestTest, EmptyProxyStringGoesDirectDespiteTheEnvironment) {
    setenv("http_proxy", proxy_.ProxyAddress().c_str(), 1);
    CurlHttpRequest request(HttpRequestParams(origin_.Url("/file"), &writer_), "");
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(proxy_.RequestCount(), 0u);
    EXPECT_EQ(origin_.RequestCount(), 1u);
}

TEST_F(ProxiedRequestTest, SessionRequestsFollowTheEnvironmentFactory) {
    setenv("http_proxy", proxy_.ProxyAddress().c_str(), 1);
    setenv("no_proxy", "localhost", 1);
    EnvironmentHttpProxyFactory proxies;
    CurlHttpRequestFactory factory(&proxies);
    const auto session = RoundRobinHttpSessionFactory().Create();

    auto request = factory.CreateRequest(HttpRequestParams(origin_.Url("/file"), &writer_), session);
    EXPECT_EQ(request->Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(proxy_.RequestCount(), 1u);
    request.reset();

    // Bypassed host: the re-armed pooled request goes direct.
    const std::string bypassed = "http://localhost:" + std::to_string(origin_.Port()) + "/file";
    request = factory.CreateRequest(HttpRequestParams(bypassed, &writer_), session);
    EXPECT_EQ(request->Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(proxy_.RequestCount(), 1u);
    EXPECT_EQ(origin_.RequestCount(), 2u);
}

TEST_F(ProxiedRequestTest, UnreachableProxyIsConnectFailed) {
    proxy_.SetRefusingConnections(true);
    CurlHttpRequest request(HttpRequestParams(origin_.Url("/file"), &writer_), proxy_.ProxyAddress());
    EXPECT_EQ(request.Perform().State, HttpRequestResult::ConnectFailed);
    EXPECT_EQ(origin_.RequestCount(), 0u);
}

}  // namespace
}  // namespace qelt
