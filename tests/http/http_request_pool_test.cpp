#include "http/http_request_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <new>
#include <sstream>
#include <thread>

#include "http/curl_http_request.h"
#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;

// A proxy source answering a fixed string and counting how often it is asked.
class CountingProxy : public HttpProxy {
public:
    explicit CountingProxy(std::string answer) : answer_(std::move(answer)) {}
    std::string GetProxy(const HttpRequestParams&) override {
        ++lookups;
        return answer_;
    }
    std::atomic<int> lookups{0};

private:
    const std::string answer_;
};

class CountingProxyFactory : public HttpProxyFactory {
public:
    std::shared_ptr<HttpProxy> Create() override {
        ++creates;
        auto source = std::make_shared<CountingProxy>(answer);
        std::lock_guard lock(mutex_);
        sources.push_back(source);
        return source;
    }
    int Lookups() {
        std::lock_guard lock(mutex_);
        int total = 0;
        for (const auto& source : sources)
            total += source->lookups;
        return total;
    }

    std::string answer;
    std::atomic<int> creates{0};
    std::vector<std::shared_ptr<CountingProxy>> sources;

private:
    std::mutex mutex_;
};

std::shared_ptr<HttpRequest> Unwrap(const std::shared_ptr<HttpRequest>& request) {
    const auto wrapper = std::dynamic_pointer_cast<PooledHttpRequestWrapper>(request);
    return wrapper ? wrapper->Wrapped() : nullptr;
}

class HttpRequestPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.AddFile("/a", "first body");
        server_.AddFile("/b", "second body");
    }

    HttpRequestParams Params(const std::string& path) { return HttpRequestParams(server_.Url(path), &writer_); }
    std::shared_ptr<HttpRequest> NewRequest() { return std::make_shared<CurlHttpRequest>(Params("/a"), ""); }

    test::TestHttpServer server_;
    std::ostringstream body_;
    HttpStringstreamWriter writer_{body_};
    CountingProxyFactory proxies_;
    CurlHttpRequestFactory factory_{&proxies_};
};

TEST_F(HttpRequestPoolTest, FirstRequestIsCreatedInUseAndReusedAfterRelease) {
    const auto session = RoundRobinHttpSessionFactory().Create();
    auto pool = std::dynamic_pointer_cast<RoundRobinHttpRequestPool>(session->GetPool());
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(session->GetProxy(), nullptr);

    auto first = factory_.CreateRequest(Params("/a"), session);
    const auto underlying = Unwrap(first);
    ASSERT_NE(underlying, nullptr);
    EXPECT_EQ(pool->OwnedCount(), 1u);
    EXPECT_EQ(pool->IdleCount(), 0u);
    EXPECT_EQ(first->Perform().State, HttpRequestResult::Succeeded);
    first.reset();
    EXPECT_EQ(pool->IdleCount(), 1u);

    auto second = factory_.CreateRequest(Params("/b"), session);
    EXPECT_EQ(Unwrap(second), underlying);
    EXPECT_EQ(second->GetStatus().State, HttpRequestResult::Idle);  // re-armed
    EXPECT_EQ(second->Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(body_.str(), "first bodysecond body");

    // The same easy handle kept its connection open for the next request.
    EXPECT_EQ(server_.ConnectionCount(), 1u);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].connection, requests[1].connection);
    EXPECT_EQ(requests[1].path, "/b");
}

TEST_F(HttpRequestPoolTest, ReleasedRequestsComeBackFirstInFirstOut) {
    const auto session = RoundRobinHttpSessionFactory().Create();
    std::vector<std::shared_ptr<HttpRequest>> wrappers;
    std::vector<std::shared_ptr<HttpRequest>> underlying;
    for (int i = 0; i < 3; ++i) {
        wrappers.push_back(factory_.CreateRequest(Params("/a"), session));
        underlying.push_back(Unwrap(wrappers.back()));
    }
    // Released in the order second, third, first.
    wrappers[1].reset();
    wrappers[2].reset();
    wrappers[0].reset();

    std::vector<std::shared_ptr<HttpRequest>> again;
    for (int i = 0; i < 3; ++i)
        again.push_back(factory_.CreateRequest(Params("/b"), session));
    EXPECT_EQ(Unwrap(again[0]), underlying[1]);
    EXPECT_EQ(Unwrap(again[1]), underlying[2]);
    EXPECT_EQ(Unwrap(again[2]), underlying[0]);
    // A fourth one while all three are in use is new.
    auto fourth = factory_.CreateRequest(Params("/b"), session);
    for (const auto& known : underlying)
        EXPECT_NE(Unwrap(fourth), known);
}

TEST_F(HttpRequestPoolTest, ProxyIsLookedUpOncePerSessionAndEveryTimeWithoutOne) {
    const auto session = RoundRobinHttpSessionFactory().Create();
    for (int i = 0; i < 3; ++i)
        factory_.CreateRequest(Params("/a"), session);
    EXPECT_EQ(proxies_.creates, 1);
    EXPECT_EQ(proxies_.Lookups(), 3);
    EXPECT_NE(session->GetProxy(), nullptr);

    auto first = factory_.CreateRequest(Params("/a"), nullptr);
    auto second = factory_.CreateRequest(Params("/a"), nullptr);
    EXPECT_EQ(proxies_.creates, 3);
    EXPECT_EQ(proxies_.Lookups(), 5);
    EXPECT_EQ(std::dynamic_pointer_cast<PooledHttpRequestWrapper>(first), nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->Perform().State, HttpRequestResult::Succeeded);

    const auto poolless = std::make_shared<HttpSession>(nullptr);
    auto third = factory_.CreateRequest(Params("/a"), poolless);
    EXPECT_EQ(std::dynamic_pointer_cast<PooledHttpRequestWrapper>(third), nullptr);
    EXPECT_EQ(proxies_.creates, 4);
    EXPECT_EQ(poolless->GetProxy(), nullptr);
}

TEST_F(HttpRequestPoolTest, SessionProxyAnswerReachesThePooledRequest) {
    test::TestHttpServer proxy;
    proxy.SetProxyMode(true);
    proxies_.answer = proxy.ProxyAddress();
    const auto session = RoundRobinHttpSessionFactory().Create();
    auto request = factory_.CreateRequest(Params("/a"), session);
    EXPECT_EQ(request->Perform().State, HttpRequestResult::Succeeded);
    request.reset();
    request = factory_.CreateRequest(Params("/b"), session);
    EXPECT_EQ(request->Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(proxy.RequestCount(), 2u);
    EXPECT_EQ(body_.str(), "first bodysecond body");
}

TEST_F(HttpRequestPoolTest, ProxySourceExceptionsPropagate) {
    class BrokenFactory : public HttpProxyFactory {
    public:
        std::shared_ptr<HttpProxy> Create() override { return std::make_shared<ManualHttpProxy>("p:1", "a(b"); }
    } broken;
    CurlHttpRequestFactory factory(&broken);
    EXPECT_ANY_THROW(factory.CreateRequest(Params("/a"), RoundRobinHttpSessionFactory().Create()));
    EXPECT_ANY_THROW(factory.CreateRequest(Params("/a"), nullptr));
}

TEST_F(HttpRequestPoolTest, DoubleReleaseLeavesOneIdleEntry) {
    RoundRobinHttpRequestPool pool;
    const auto request = NewRequest();
    pool.Add(request, false);
    EXPECT_EQ(pool.Acquire(Params("/a"), ""), nullptr);
    pool.Release(request);
    pool.Release(request);
    EXPECT_EQ(pool.IdleCount(), 1u);
    EXPECT_EQ(pool.Acquire(Params("/a"), ""), request);
    EXPECT_EQ(pool.Acquire(Params("/a"), ""), nullptr);
}

TEST_F(HttpRequestPoolTest, AddAvailableMakesIdleOnceAndUnknownReleasesAreIgnored) {
    RoundRobinHttpRequestPool pool;
    const auto request = NewRequest();
    pool.Add(request, true);
    pool.Add(request, true);
    EXPECT_EQ(pool.OwnedCount(), 1u);
    EXPECT_EQ(pool.IdleCount(), 1u);
    pool.Release(NewRequest());
    EXPECT_EQ(pool.OwnedCount(), 1u);
    EXPECT_EQ(pool.IdleCount(), 1u);
}

// A pool that cannot take a request back, as when queuing it again runs out of memory.
class FullPool : public RoundRobinHttpRequestPool {
public:
    void Release(const std::shared_ptr<HttpRequest>&) override { throw std::bad_alloc(); }
};

TEST_F(HttpRequestPoolTest, WrapperOutlivesAPoolThatCannotTakeItsRequestBack) {
    const auto pool = std::make_shared<FullPool>();
    auto request = NewRequest();
    const std::weak_ptr<HttpRequest> watched = request;
    pool->Add(request, false);
    {
        PooledHttpRequestWrapper wrapper(std::move(request), pool);
        EXPECT_EQ(wrapper.Perform().State, HttpRequestResult::Succeeded);
    }  // a throwing destructor would end the process here
    EXPECT_EQ(pool->IdleCount(), 0u);
    EXPECT_FALSE(watched.expired());  // still owned by the pool, just not idle
}

TEST_F(HttpRequestPoolTest, RunningRequestIsForgottenAndItsLaterReleaseIgnored) {
    test::HttpFault trickle;
    trickle.bytesPerSecond = 100;
    server_.AddFile("/slow", test::MakeTestContent(10000));
    server_.SetFault("/slow", trickle);

    RoundRobinHttpRequestPool pool;
    auto busyParams = Params("/slow");
    busyParams.Timeout = 20;
    const auto busy = std::make_shared<CurlHttpRequest>(busyParams, "");
    const auto spare = NewRequest();
    pool.Add(busy, true);
    pool.Add(spare, true);
    EXPECT_EQ(pool.IdleCount(), 2u);

    auto performed = std::async(std::launch::async, [&] { return busy->Perform(); });
    ASSERT_TRUE(server_.WaitForRequestCount(1, 5s));
    while (busy->GetStatus().State != HttpRequestResult::Running)
        std::this_thread::yield();

    EXPECT_EQ(pool.Acquire(Params("/a"), ""), spare);  // the busy one could not be re-armed
    EXPECT_EQ(pool.OwnedCount(), 1u);
    pool.Release(busy);
    EXPECT_EQ(pool.IdleCount(), 0u);
    EXPECT_EQ(pool.Acquire(Params("/a"), ""), nullptr);

    busy->Cancel();
    ASSERT_EQ(performed.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(performed.get().State, HttpRequestResult::Cancelled);
}

TEST_F(HttpRequestPoolTest, ConcurrentRequestsShareASession) {
    const auto session = RoundRobinHttpSessionFactory().Create();
    constexpr int kThreads = 4;
    constexpr int kRequestsPerThread = 10;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::ostringstream body;
            HttpStringstreamWriter writer(body);
            for (int i = 0; i < kRequestsPerThread; ++i) {
                auto request = factory_.CreateRequest(HttpRequestParams(server_.Url("/a"), &writer), session);
                if (request->Perform().State == HttpRequestResult::Succeeded) ++succeeded;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(succeeded, kThreads * kRequestsPerThread);
    const auto pool = std::dynamic_pointer_cast<RoundRobinHttpRequestPool>(session->GetPool());
    EXPECT_LE(pool->OwnedCount(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(pool->IdleCount(), pool->OwnedCount());
    EXPECT_LE(server_.ConnectionCount(), static_cast<std::uint64_t>(kThreads));
    EXPECT_EQ(server_.RequestCount(), static_cast<std::uint64_t>(kThreads * kRequestsPerThread));
}

}  // namespace
}  // namespace qelt
