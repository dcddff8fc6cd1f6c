#include "analytics/json_http_analytics_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "analytics/transfer_event.h"
#include "app/transfer_settings.h"
#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "tests/analytics/test_transfer.h"
#include "tests/support/test_http_server.h"
#include "tests/work/status_recorder.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;

class CountingSessionFactory : public RoundRobinHttpSessionFactory {
public:
    std::shared_ptr<HttpSession> Create() override {
        ++creates;
        return RoundRobinHttpSessionFactory::Create();
    }
    std::atomic<int> creates{0};
};

class RetryCounter : public SimpleWorkRetryCallback {
public:
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus&) override { ++retries; }
    std::atomic<int> retries{0};
};

test::HttpFault Status(int code) {
    test::HttpFault fault;
    fault.status = code;
    return fault;
}

test::HttpFault Delay(std::chrono::milliseconds delay) {
    test::HttpFault fault;
    fault.delay = delay;
    return fault;
}

class AnalyticsDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override { Start(events_.ProxyAddress()); }

    void Start(const std::string& eventsHost) {
        manager_ = std::make_unique<JsonHttpAnalyticsManager>(&requests_, &sessions_, settings_, eventsHost,
                                                              transfers_.ProxyAddress());
    }

    // Submits a body {"n":"<n>"} on `channel`, observed by the recorder and the retry counter.
    void Post(int n, int channel = kAnalyticsEventsChannel) {
        auto work = manager_->CreateWork(channel);
        work->Tree().put("n", n);
        work->AddCompleteCallback(&recorder_);
        work->AddRetryCallback(&retries_);
        manager_->Submit(work);
    }

    WorkResult OnlyResult() {
        manager_.reset();
        const auto reports = recorder_.Reports();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? WorkResult::Success : reports[0].status.result;
    }

    test::TestHttpServer events_;
    test::TestHttpServer transfers_;
    TransferSettings settings_;
    EmptyHttpProxyFactory proxies_;
    CurlHttpRequestFactory requests_{&proxies_};
    CountingSessionFactory sessions_;
    test::StatusRecorder recorder_;
    RetryCounter retries_;
    std::unique_ptr<JsonHttpAnalyticsManager> manager_;
};

TEST_F(AnalyticsDeliveryTest, OnlyChannelThirtyTwoReachesTheTransferHost) {
    Post(1, 1);
    Post(7, 7);
    Post(32, kAnalyticsTransferChannel);
    manager_.reset();
    EXPECT_EQ(events_.RequestCount(), 2u);
    ASSERT_EQ(transfers_.RequestCount(), 1u);
    EXPECT_EQ(transfers_.Requests()[0].body, "{\"n\":\"32\"}\n");
    EXPECT_EQ(sessions_.creates.load(), 1) << "one session, made at construction, serves every post";
}

TEST_F(AnalyticsDeliveryTest, ClientErrorIsNotRetried) {
    events_.SetFault("/", Status(404));
    Post(1);
    EXPECT_EQ(OnlyResult(), WorkResult::FatalError);
    EXPECT_EQ(events_.RequestCount(), 1u);
    EXPECT_EQ(retries_.retries.load(), 0);
}

TEST_F(AnalyticsDeliveryTest, ServerErrorIsRetriedOnce) {
    events_.SetFault("/", Status(503));
    Post(1);
    EXPECT_EQ(OnlyResult(), WorkResult::RetryableError);
    EXPECT_EQ(events_.RequestCount(), 2u);
}

TEST_F(AnalyticsDeliveryTest, ServerErrorThenSuccessEndsWell) {
    events_.SetFault("/", Status(500), 1);
    Post(1);
    EXPECT_EQ(OnlyResult(), WorkResult::Success);
    EXPECT_EQ(events_.RequestCount(), 2u);
}

TEST_F(AnalyticsDeliveryTest, RefusedConnectionIsTriedTwiceThenDropped) {
    events_.SetRefusingConnections(true);
    Post(1);
    EXPECT_EQ(OnlyResult(), WorkResult::RetryableError);
    EXPECT_EQ(retries_.retries.load(), 1) << "one retry: two attempts";
}

TEST_F(AnalyticsDeliveryTest, DestructionSendsEveryQueuedPostFirst) {
    // The first three posts occupy the three threads for a while, so the next three are still queued when the
    // manager is destroyed.
    events_.SetFault("/", Delay(300ms), 3);
    for (int n = 1; n <= 6; ++n)
        Post(n);
    manager_.reset();
    std::vector<std::string> bodies;
    for (const auto& request : events_.Requests())
        bodies.push_back(request.body);
    std::sort(bodies.begin(), bodies.end());
    std::vector<std::string> expected;
    for (int n = 1; n <= 6; ++n)
        expected.push_back("{\"n\":\"" + std::to_string(n) + "\"}\n");
    EXPECT_EQ(bodies, expected);
    EXPECT_EQ(recorder_.Count(), 6u);
}

// Hands out the works of another manager with an observer attached, so a test sees when each post ends.
class ObservedAnalytics : public AnalyticsManager {
public:
    ObservedAnalytics(EventManager& inner, WorkCompleteCallback& observer)
        : AnalyticsManager(0), inner_(inner), observer_(observer) {}
    std::shared_ptr<TrackEventWork> CreateWork(int channel) override {
        auto work = inner_.CreateWork(channel);
        work->AddCompleteCallback(&observer_);
        return work;
    }
    void Submit(std::shared_ptr<TrackEventWork> work) override { inner_.Submit(std::move(work)); }

private:
    EventManager& inner_;
    WorkCompleteCallback& observer_;
};

TEST_F(AnalyticsDeliveryTest, AStalledHostCostsTheTransferNothing) {
    settings_.analyticsConnectTimeout = 2;
    settings_.analyticsTimeout = 2;
    Start(events_.ProxyAddress());
    events_.SetFault("/", Delay(30s));
    transfers_.SetFault("/", Delay(30s));
    ObservedAnalytics observed(*manager_, recorder_);
    test::TestTransfer transfer;
    transfer.behavior.eventManager = &observed;

    // The hosts hold their answers far longer than the time-out, so a post ends only by timing out on its pool
    // thread. Fire must have returned long before that.
    TransferStartEvent(transfer).Fire();
    EXPECT_EQ(recorder_.Count(), 0u) << "Fire waited for a post";
    manager_.reset();
    ASSERT_EQ(recorder_.Count(), 2u);
    for (const auto& report : recorder_.Reports())
        EXPECT_EQ(report.status.result, WorkResult::FatalError) << "timed out, not retried";
    EXPECT_EQ(events_.RequestCount(), 1u);
}

}  // namespace
}  // namespace qelt
