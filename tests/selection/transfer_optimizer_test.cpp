#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "http/http_request.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "pipeline/optimized_request_params.h"
#include "pipeline/status_data.h"
#include "selection/node_statistics.h"
#include "selection/proportional_gambling_transfer_optimizer.h"
#include "tests/support/test_package.h"

namespace qelt {
namespace {

using test::NodeListOf;

std::shared_ptr<TransferSharedMapData> Chunk(std::uint64_t length) {
    auto file = std::make_shared<TransferSharedFileData>("data/file.bin", length);
    return std::make_shared<TransferSharedMapData>(file, 0, length - 1, 0u, nullptr);
}

HttpTransferStatusData Outcome(HttpRequestResult state, std::uint64_t bytes = 0, std::int32_t ms = 100) {
    HttpRequestStatus status;
    status.State = state;
    status.BytesReceived = bytes;
    return HttpTransferStatusData("host", status, ms);
}

TransferSettings TwelveThreads() {
    TransferSettings settings(4);
    settings.transferThreads = 12;
    return settings;
}

class OptimizerTest : public ::testing::Test {
protected:
    OptimizedRequestParams Request(std::shared_ptr<NodeListManifest> nodes, std::uint64_t length = 1 << 20) {
        return OptimizedRequestParams(std::move(nodes), TransferParams{}, Chunk(length));
    }

    // Records `count` requests of `bytes` in 1 s for the host, as a finished normal request would.
    void Record(const std::shared_ptr<NodeListManifest>& nodes, std::size_t node, int count, std::uint64_t bytes,
                HttpRequestResult state = HttpRequestResult::Succeeded) {
        auto request = Request(nodes);
        request.SelectedNode = nodes->GetNodes()[node];
        for (int i = 0; i < count; ++i)
            optimizer_.OnRequestComplete(request, Outcome(state, bytes, 1000));
    }

    ProportionalGamblingTransferOptimizer optimizer_{TwelveThreads(), 12345};
};

TEST_F(OptimizerTest, EmptyCandidateListIsRejected) {
    auto request = Request(NodeListOf({{"a", "a.test"}}));
    request.candidates.clear();
    try {
        optimizer_.GetNode(request);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "TransferOptimizer::GetNode received empty nodelist");
    }
    EXPECT_EQ(request.SelectedNode, nullptr);
}

TEST_F(OptimizerTest, SingleNodeGetsNormalLimitsWithoutExploring) {
    auto nodes = NodeListOf({{"a", "a.test"}});
    auto request = Request(nodes);
    optimizer_.GetNode(request);
    EXPECT_EQ(request.SelectedNode, nodes->GetNodes()[0]);
    EXPECT_FALSE(request.exploring);
    EXPECT_FALSE(request.freeRetry);
    EXPECT_TRUE(request.timeoutsCanGrow);
    EXPECT_EQ(request.connectTimeout, 3);
    EXPECT_EQ(request.lowSpeedTime, 5);
    EXPECT_EQ(request.lowSpeedLimit, 7168 / 12);
    EXPECT_EQ(request.timeout, 1755) << "1 MiB x 12 / 7168";
}

TEST_F(OptimizerTest, FreshHostsAreExploredUniformly) {
    auto nodes = NodeListOf({{"a", "a.test"}, {"b", "b.test"}});
    std::map<std::string, int> chosen;
    for (int i = 0; i < 1000; ++i) {
        auto request = Request(nodes, 4096);
        optimizer_.GetNode(request);
        ASSERT_TRUE(request.exploring);
        EXPECT_TRUE(request.freeRetry);
        EXPECT_FALSE(request.timeoutsCanGrow);
        EXPECT_EQ(request.connectTimeout, 2);
        EXPECT_EQ(request.lowSpeedTime, 3);
        EXPECT_EQ(request.lowSpeedLimit, 32768 / 12);
        EXPECT_EQ(request.timeout, 3);
        ++chosen[request.SelectedNode->GetNodeId()];
    }
    EXPECT_GT(chosen["a"], 380);
    EXPECT_GT(chosen["b"], 380);
}

TEST_F(OptimizerTest, HostWithOneSampleIsStillExploredAndWithTwoItGambles) {
    auto nodes = NodeListOf({{"a", "a.test"}, {"b", "b.test"}});
    Record(nodes, 0, 2, 100'000);
    Record(nodes, 1, 1, 100'000);
    for (int i = 0; i < 50; ++i) {
        auto request = Request(nodes);
        optimizer_.GetNode(request);
        EXPECT_TRUE(request.exploring);
        EXPECT_EQ(request.SelectedNode->GetNodeId(), "b") << "the only host with at most one sample";
    }
    Record(nodes, 1, 1, 100'000);
    auto request = Request(nodes);
    optimizer_.GetNode(request);
    EXPECT_FALSE(request.exploring);
}

TEST_F(OptimizerTest, FasterHostWinsMostGambles) {
    auto nodes = NodeListOf({{"slow", "slow.test"}, {"fast", "fast.test"}});
    Record(nodes, 0, 5, 100'000);
    Record(nodes, 1, 5, 1'000'000);
    int fast = 0;
    for (int i = 0; i < 1000; ++i) {
        auto request = Request(nodes);
        optimizer_.GetNode(request);
        ASSERT_FALSE(request.exploring);
        fast += request.SelectedNode->GetNodeId() == "fast";
    }
    // The slow host keeps its starting win, so it is still drawn now and then: about 1 in 102.
    EXPECT_GT(fast, 900);
    EXPECT_LT(fast, 1000);
}

TEST_F(OptimizerTest, AdaptiveLimitsShrinkOnSuccessAndDoubleOnTimeoutWithinBounds) {
    auto nodes = NodeListOf({{"a", "a.test"}});
    auto limits = [&] {
        auto request = Request(nodes);
        optimizer_.GetNode(request);
        return std::tuple(request.connectTimeout, request.lowSpeedTime, request.timeoutsCanGrow);
    };
    Record(nodes, 0, 5, 1000);
    EXPECT_EQ(limits(), std::tuple(3, 5, true));
    Record(nodes, 0, 1, 0, HttpRequestResult::TimedOut);
    EXPECT_EQ(limits(), std::tuple(6, 10, true));
    Record(nodes, 0, 3, 0, HttpRequestResult::TimedOut);
    EXPECT_EQ(limits(), std::tuple(15, 60, false));
    Record(nodes, 0, 1, 0, HttpRequestResult::ConnectFailed);
    EXPECT_EQ(limits(), std::tuple(15, 60, false)) << "other errors leave the limits alone";
    Record(nodes, 0, 1, 1000);
    EXPECT_EQ(limits(), std::tuple(14, 59, true));
}

TEST_F(OptimizerTest, ExploringTimeoutKeepsLimitsButCountsAsFailure) {
    auto nodes = NodeListOf({{"a", "a.test"}, {"b", "b.test"}});
    auto request = Request(nodes);
    optimizer_.GetNode(request);
    ASSERT_TRUE(request.exploring);
    optimizer_.OnRequestComplete(request, Outcome(HttpRequestResult::TimedOut, 0, 3000));
    EXPECT_EQ(optimizer_.AdaptiveConnectTimeout(), 3);
    EXPECT_EQ(optimizer_.AdaptiveLowSpeedTime(), 5);
    auto statistics = optimizer_.GetStatistics(*request.SelectedNode);
    EXPECT_EQ(statistics->Errors().Get(), 1);
    auto normal = std::dynamic_pointer_cast<NormalNodeStatistics>(statistics);
    ASSERT_NE(normal, nullptr);
    EXPECT_EQ(normal->GetSampleCount(), 1u);
    EXPECT_EQ(normal->GetDistribution().first, 0.0);
}

TEST_F(OptimizerTest, CancelledRequestIsNotAFailure) {
    auto nodes = NodeListOf({{"a", "a.test"}});
    Record(nodes, 0, 1, 500, HttpRequestResult::Cancelled);
    auto statistics = optimizer_.GetStatistics(*nodes->GetNodes()[0]);
    EXPECT_EQ(statistics->Errors().Get(), 0);
    EXPECT_EQ(statistics->Successes().Get(), 1);
}

TEST_F(OptimizerTest, StatisticsAreKeptPerHostAuthority) {
    auto nodes = NodeListOf({{"n1", "mirror.test:8080"}, {"n2", "mirror.test:8080"}, {"n3", "mirror.test:8081"}});
    const auto& list = nodes->GetNodes();
    auto first = optimizer_.GetStatistics(*list[0]);
    EXPECT_EQ(first, optimizer_.GetStatistics(*list[1]));
    EXPECT_NE(first, optimizer_.GetStatistics(*list[2])) << "another port is another host";
    EXPECT_NE(first, list[0]->GetStatistics()) << "the node's own statistics stay separate";
}

TEST(RequestTimeout, ChunkLengthTimesSharesOverMinimumSpeed) {
    EXPECT_EQ(RequestTimeout(0, 4095, 12, 7168, 10), 10);
    EXPECT_EQ(RequestTimeout(0, (1 << 20) - 1, 12, 7168, 10), 1755);
    EXPECT_EQ(RequestTimeout(1 << 20, (2 << 20) - 1, 12, 7168, 10), 1755) << "only the length counts";
    EXPECT_EQ(RequestTimeout(0, (1ull << 30) - 1, 12, 7168, 10), 1797558) << "1 GiB must not overflow";
    EXPECT_EQ(RequestTimeout(0, (1ull << 42) - 1, 12, 7168, 10), INT32_MAX) << "clamped, never negative";
    EXPECT_EQ(RequestTimeout(0, UINT64_MAX - 1, 12, 7168, 10), INT32_MAX);
    EXPECT_EQ(RequestTimeout(0, 4095, 12, 0, 10), INT32_MAX) << "no minimum speed: no time limit from it";
}

}  // namespace
}  // namespace qelt
