#include "analytics/transfer_event.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "analytics/json_http_analytics_manager.h"
#include "app/transfer_settings.h"
#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "tests/analytics/test_transfer.h"
#include "tests/support/test_http_server.h"
#include "work/work_status.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;

// Two loopback analytics hosts (events on channel 1, transfers on channel 32) and the manager that posts to them.
class TransferEventTest : public ::testing::Test {
protected:
    TransferEventTest() {
        analytics_ = std::make_unique<JsonHttpAnalyticsManager>(&requests_, &sessions_, settings_,
                                                                events_.ProxyAddress(), transfers_.ProxyAddress());
        transfer_.behavior.eventManager = analytics_.get();
    }

    // Lets every post finish, then answers the bodies each host received, sorted (three threads post them, so
    // they arrive in any order).
    void Deliver() { analytics_.reset(); }
    static std::vector<std::string> Bodies(const test::TestHttpServer& server) {
        std::vector<std::string> bodies;
        for (const auto& request : server.Requests())
            bodies.push_back(request.body);
        std::sort(bodies.begin(), bodies.end());
        return bodies;
    }
    std::vector<std::string> EventBodies() const { return Bodies(events_); }
    std::vector<std::string> TransferBodies() const { return Bodies(transfers_); }

    test::TestHttpServer events_;
    test::TestHttpServer transfers_;
    TransferSettings settings_;
    EmptyHttpProxyFactory proxies_;
    CurlHttpRequestFactory requests_{&proxies_};
    RoundRobinHttpSessionFactory sessions_;
    test::TestTransfer transfer_;
    std::unique_ptr<JsonHttpAnalyticsManager> analytics_;
};

constexpr char kIds[] = R"("pid":"p1","pkgid":"k1","vid":"v1")";
constexpr char kTransferIds[] = R"("pid":"p1","pkgid":"k1","vid":"v1","tid":"tr\/1")";

std::string Count(const std::string& counter) {
    return std::string("{") + kIds + R"(,"metrics":{")" + counter + R"(":"1"},"dimensions":{}})";
}

std::string State(const std::string& status, const std::string& bytes, const std::string& seconds) {
    return std::string("{") + kTransferIds + R"(,"status":")" + status + R"(","transferBytes":")" + bytes +
           R"(","duration":")" + seconds + "\"}\n";
}

std::string Node(const std::string& bytes, const std::string& seconds, const std::string& host) {
    return std::string("{") + kIds + R"(,"metrics":{"bytes":")" + bytes + R"(","requestTime":")" + seconds +
           R"("},"dimensions":{"cdn":")" + host + "\"}}";
}

TEST_F(TransferEventTest, StartPostsItsCountAndAnActiveStateWithoutTraffic) {
    TransferStartEvent(transfer_).Fire();
    Deliver();
    EXPECT_EQ(EventBodies(), std::vector{Count("numStarts") + "\n"});
    EXPECT_EQ(TransferBodies(), std::vector{State("active", "0", "0")});

    const auto request = events_.Requests().at(0);
    EXPECT_EQ(request.RequestLine(), "POST / HTTP/1.1");
    EXPECT_EQ(request.Header("Content-Type"), "application/json");
}

TEST_F(TransferEventTest, EveryEventCountsUnderItsOwnNameAndStatesUseTheirStatusNames) {
    TransferInitializeEvent(transfer_).Fire();
    TransferInitializeCompleteEvent(transfer_).Fire();
    TransferPauseEvent(transfer_).Fire();
    TransferResumeEvent(transfer_).Fire();
    TransferRetryEvent(transfer_).Fire();
    TransferRestoreEvent(transfer_).Fire();
    transfer_.status->Record().state = TransferState::Complete;
    TransferCompleteEvent(transfer_, *transfer_.status).Fire();
    transfer_.status->Record().state = TransferState::Cancelled;
    TransferCancelEvent(transfer_, *transfer_.status).Fire();
    transfer_.status->Record().state = TransferState::TransferringPaused;
    TransferSuspendEvent(transfer_, *transfer_.status).Fire();
    Deliver();

    std::vector<std::string> expected = {
        Count("numInitializes") + "\n",      Count("numInitializeCompletes") + "\n",
        Count("numPauses") + "\n",           Count("numResumes") + "\n",
        Count("numRetries") + "\n",          Count("numRestores") + "\n",
        "[" + Count("numCompletes") + "]\n", "[" + Count("numCancels") + "]\n",
        "[" + Count("numSuspends") + "]\n"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(EventBodies(), expected);

    std::vector<std::string> states = {State("active", "0", "0"), State("completed", "0", "0"),
                                       State("canceled", "0", "0"), State("suspended", "0", "0")};
    std::sort(states.begin(), states.end());
    EXPECT_EQ(TransferBodies(), states) << "Restore reports active; Suspend reports suspended whatever the state";
}

TEST_F(TransferEventTest, EndEventReportsTrafficAndEachNodeSinceThePreviousReport) {
    transfer_.SetNodes({"a.example", "b.example:8080"});
    transfer_.Transfer(5000, 1500);
    transfer_.Node(0).RecordRequest(4096, 250, false);
    transfer_.Node(0).RecordRequest(100, 1, true);
    transfer_.status->Record().state = TransferState::Complete;
    TransferCompleteEvent(transfer_, *transfer_.status).Fire();

    // Nothing moved since: the next two periodic reports carry zeros for the transfer and for every node.
    TransferPeriodicEvent(transfer_, *transfer_.status).Fire();
    TransferPeriodicEvent(transfer_, *transfer_.status).Fire();
    Deliver();

    const std::string zeros = "[" + Node("0", "0", "a.example") + "," + Node("0", "0", "b.example:8080") + "]\n";
    std::vector<std::string> expected = {"[" + Count("numCompletes") + "," + Node("4196", "0.251", "a.example") +
                                             "," + Node("0", "0", "b.example:8080") + "]\n",
                                         zeros, zeros};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(EventBodies(), expected);
    std::vector<std::string> states = {State("completed", "5000", "1.5"), State("completed", "0", "0"),
                                       State("completed", "0", "0")};
    std::sort(states.begin(), states.end());
    EXPECT_EQ(TransferBodies(), states);
}

TEST_F(TransferEventTest, SecondsKeepSixteenSignificantDigits) {
    transfer_.Transfer(1, 100);
    TransferPeriodicEvent(transfer_, *transfer_.status).Fire();
    transfer_.Transfer(1, 123'456'789);
    TransferPeriodicEvent(transfer_, *transfer_.status).Fire();
    Deliver();
    std::vector<std::string> states = {State("active", "1", "0.1"), State("active", "1", "123456.789")};
    std::sort(states.begin(), states.end());
    EXPECT_EQ(TransferBodies(), states);
}

TEST_F(TransferEventTest, PeriodicEventBeforeTheNodeListPostsAnEmptyArray) {
    transfer_.Transfer(10, 20);
    TransferPeriodicEvent(transfer_, *transfer_.status).Fire();
    Deliver();
    EXPECT_EQ(EventBodies(), std::vector<std::string>{"[]\n"});
    EXPECT_EQ(TransferBodies(), std::vector{State("active", "10", "0.02")});
}

TEST_F(TransferEventTest, ErrorWithoutTrafficPostsOnlyTheErrorArray) {
    transfer_.SetNodes({"a.example"});
    TransferFatalErrorEvent(transfer_, std::make_shared<WorkErrorData>("disk \"D\" full"), *transfer_.status)
        .Fire();
    TransferFatalErrorEvent(transfer_, std::make_shared<WorkErrorData>(""), *transfer_.status).Fire();
    TransferRetryableErrorEvent(transfer_, nullptr, *transfer_.status).Fire();
    Deliver();

    const std::string node = "," + Node("0", "0", "a.example") + "]\n";
    const std::string fatal = std::string("[{") + kIds + R"(,"metrics":{"numFatalErrors":"1"},"dimensions":)";
    std::vector<std::string> expected = {fatal + R"({"error":"disk \"D\" full"}})" + node, fatal + "{}}" + node,
                                         "[" + Count("numRetryableErrors") + node};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(EventBodies(), expected);
    EXPECT_TRUE(TransferBodies().empty());
}

TEST_F(TransferEventTest, ErrorAfterTrafficAlsoReportsTheTransfer) {
    transfer_.Transfer(0, 0);
    transfer_.Transfer(7, 0);
    TransferRetryableErrorEvent(transfer_, nullptr, *transfer_.status).Fire();
    Deliver();
    EXPECT_EQ(TransferBodies(), std::vector{State("active", "7", "0")}) << "bytes alone are reason enough";
}

}  // namespace
}  // namespace qelt
