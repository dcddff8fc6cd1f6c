#include "pipeline/optimized_request_chunk_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "http/http_session.h"
#include "manifest/node_manifest.h"
#include "pipeline/transfer_single_chunk_work.h"
#include "selection/node_statistics.h"
#include "selection/transfer_optimizer.h"
#include "tests/pipeline/pipeline_fixture.h"

namespace qelt::test {
namespace {

using namespace std::chrono_literals;

// The host of every attempt that was retried, from the statuses handed to retry observers.
class RetryHosts : public SimpleWorkRetryCallback {
public:
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus& status) override {
        std::lock_guard lock(mutex_);
        auto data = std::dynamic_pointer_cast<HttpTransferStatusData>(status.data);
        hosts_.push_back(data ? data->Hostname() : "?");
    }
    std::vector<std::string> Hosts() const {
        std::lock_guard lock(mutex_);
        return hosts_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> hosts_;
};

HttpFault Unavailable() {
    HttpFault fault;
    fault.status = 503;
    return fault;
}

HttpFault StallAfter(std::uint64_t bytes, std::chrono::milliseconds stall) {
    HttpFault fault;
    fault.stallAfterBytes = bytes;
    fault.stall = stall;
    return fault;
}

const HttpTransferStatusData& HttpData(const WorkStatus& status) {
    static const HttpTransferStatusData none("", HttpRequestStatus{}, 0);
    auto data = std::dynamic_pointer_cast<HttpTransferStatusData>(status.data);
    return data ? *data : none;
}

class ChunkRequestTest : public PipelineFixture {
protected:
    // A request work for a fresh one-chunk file published on `count` mirrors (or on the given hosts).
    std::shared_ptr<OptimizedRequestChunkWork> Request(std::size_t count, unsigned maxRetries,
                                                       std::vector<std::string> hosts = {}) {
        Publish({file}, "", count);
        for (const auto& mirror : mirrors)
            if (hosts.size() < count) hosts.push_back(HostOf(*mirror));
        mapData = MapChunk(hosts, file.path, file.content);
        auto work =
            std::make_shared<OptimizedRequestChunkWork>(iface, Services().sessions.Create(), mapData, maxRetries);
        work->AddRetryCallback(&retries);
        return work;
    }

    std::string ChunkOnDisk() const {
        return std::string(reinterpret_cast<const char*>(mapData->view->Data()), file.content.size());
    }

    const PackageFile file{"chunk.bin", MakeTestContent(20000, 11)};
    std::shared_ptr<TransferSharedMapData> mapData;
    RetryHosts retries;
};

TEST_F(ChunkRequestTest, RetryGoesToTheOtherNodeAndBothAreTriedAgainOnceEachFailed) {
    auto work = Request(2, 4);
    mirrors[0]->SetFault(FilePath(file.path), Unavailable());
    mirrors[1]->SetFault(FilePath(file.path), Unavailable());

    const WorkStatus status = work->Run();
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    EXPECT_EQ(HttpData(status).ToTransferError(), TransferError::ConnectionError);
    const auto hosts = retries.Hosts();
    ASSERT_GE(hosts.size(), 4u) << "the budget, plus free retries after exploring";
    EXPECT_NE(hosts[0], hosts[1]) << "a failed node is not asked again while another is left";
    EXPECT_GE(ChunkRequests(*mirrors[0]).size(), 2u) << "candidates refilled once both failed";
    EXPECT_GE(ChunkRequests(*mirrors[1]).size(), 2u);
}

TEST_F(ChunkRequestTest, FailingNodeIsLeftForTheOneThatServes) {
    auto work = Request(2, 0);
    mirrors[0]->SetFault(FilePath(file.path), Unavailable());

    const WorkStatus status = work->Run();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    EXPECT_EQ(HttpData(status).Hostname(), HostOf(*mirrors[1]));
    EXPECT_LE(ChunkRequests(*mirrors[0]).size(), 1u);
    EXPECT_EQ(ChunkRequests(*mirrors[1]).size(), 1u);
    EXPECT_TRUE(ChunkOnDisk() == file.content);
    EXPECT_EQ(mapData->fileProgressBytes, file.content.size());
}

TEST_F(ChunkRequestTest, VerifiedWorkLetsGoOfItsParametersAndStillRunsAgainAfterAReset) {
    auto work = Request(2, 0);
    ASSERT_EQ(work->Run().result, WorkResult::Success);
    work->ReportVerification(true);
    work->Reset();

    const WorkStatus again = work->Run();
    ASSERT_EQ(again.result, WorkResult::Success) << Describe(again);
    EXPECT_EQ(ChunkRequestCount(), 2u);
    EXPECT_EQ(work->RequestParams().candidates.size(), 1u) << "built afresh: only the node just used is out";
    EXPECT_TRUE(ChunkOnDisk() == file.content);
}

TEST_F(ChunkRequestTest, SingleNodeGetsEveryRetryWithinTheDefaultBudget) {
    Publish({file});
    mapData = MapChunk({HostOf(*mirrors[0])}, file.path, file.content);
    EXPECT_EQ(ChunkRetryBudget(settings.requestRetries, *iface), 4u);
    EXPECT_EQ(ChunkRetryBudget(settings.chunkRetries, *iface), 4u);
    iface->SetNodeList(ReadNodeList({"a:1", "b:1", "c:1", "d:1", "e:1", "f:1"}));
    EXPECT_EQ(ChunkRetryBudget(4, *iface), 5u) << "every node once more than the first";
    iface->SetNodeList(nullptr);
    EXPECT_EQ(ChunkRetryBudget(-1, *iface), 0u);

    mapData = MapChunk({HostOf(*mirrors[0])}, file.path, file.content);
    auto work = std::make_shared<OptimizedRequestChunkWork>(iface, Services().sessions.Create(), mapData,
                                                            ChunkRetryBudget(settings.requestRetries, *iface));
    mirrors[0]->SetFault(FilePath(file.path), Unavailable());
    EXPECT_EQ(work->Run().result, WorkResult::RetryableError);
    EXPECT_EQ(ChunkRequests(*mirrors[0]).size(), 5u);
}

TEST_F(ChunkRequestTest, FailureWhileExploringIsFreeButANormalOneIsNot) {
    auto work = Request(2, 0);
    mirrors[0]->SetFault(FilePath(file.path), Unavailable());
    mirrors[1]->SetFault(FilePath(file.path), Unavailable());
    EXPECT_EQ(work->Run().result, WorkResult::RetryableError);
    EXPECT_EQ(ChunkRequestCount(), 2u) << "one exploring attempt for free, then the budget of none";
}

TEST_F(ChunkRequestTest, TimeOutUnderLimitsThatCanStillGrowIsFree) {
    auto work = Request(1, 0);
    mirrors[0]->SetFault(FilePath(file.path), StallAfter(100, 10s), 1);
    const WorkStatus status = work->Run();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    ASSERT_EQ(retries.Hosts().size(), 1u);
    EXPECT_EQ(ChunkRequests(*mirrors[0]).size(), 2u);
    EXPECT_EQ(Services().optimizer.AdaptiveLowSpeedTime(), 2) << "doubled after the time-out";
    EXPECT_TRUE(ChunkOnDisk() == file.content);
}

TEST_F(ChunkRequestTest, TimeOutAtTheLargestLimitsUsesTheBudget) {
    settings.minConnectTimeout = settings.maxConnectTimeout;
    settings.minLowSpeedTime = settings.maxLowSpeedTime = 1;
    auto work = Request(1, 0);
    mirrors[0]->SetFault(FilePath(file.path), StallAfter(100, 10s), 1);
    const WorkStatus status = work->Run();
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    EXPECT_EQ(HttpData(status).Status().State, HttpRequestResult::TimedOut);
    EXPECT_EQ(ChunkRequests(*mirrors[0]).size(), 1u);
}

TEST_F(ChunkRequestTest, RequestTimeIsCappedAtTheLimitsTheRequestHad) {
    auto work = Request(1, 0);
    std::atomic<std::uint32_t> now{0};
    iface->GetBehavior()->clock = [&] { return now.fetch_add(3'600'000) + 3'600'000; };
    const WorkStatus status = work->Run();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    const auto& limits = work->RequestParams();
    EXPECT_EQ(HttpData(status).RequestTimeMs(), (limits.connectTimeout + limits.timeout) * 1000)
        << "an hour by a clock that jumped, not by the request";
    const auto own = iface->GetNodeList()->GetNodes()[0]->GetStatistics();
    EXPECT_EQ(own->Milliseconds().Get(), static_cast<std::uint32_t>(HttpData(status).RequestTimeMs()));
}

TEST_F(ChunkRequestTest, CancelFromAnotherThreadStopsTheRequestWithoutBlamingTheNode) {
    settings.minLowSpeedTime = settings.exploreLowSpeedTime = 30;
    settings.maxLowSpeedTime = 60;
    auto work = Request(2, 4);
    for (auto& mirror : mirrors)
        mirror->SetFault(FilePath(file.path), StallAfter(100, 30s));

    auto run = std::async(std::launch::async, [&] { return work->Run(); });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (ChunkRequestCount() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(100ms);
    work->RequestCancel();
    work->Cancel();
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready) << "Cancel did not interrupt the request";

    const WorkStatus status = run.get();
    EXPECT_EQ(status.result, WorkResult::Cancelled);
    EXPECT_EQ(HttpData(status).ToTransferError(), TransferError::None);
    EXPECT_EQ(work->RequestParams().candidates.size(), 2u) << "the node is not excluded";
    for (const auto& node : iface->GetNodeList()->GetNodes()) {
        const auto learnt = Services().optimizer.GetStatistics(*node);
        EXPECT_EQ(learnt->Successes().Get() + learnt->Errors().Get(), 0) << "the optimizer is not told";
    }
}

TEST_F(ChunkRequestTest, HostNoUrlCanHoldIsAFailedAttemptOfThatNode) {
    auto work = Request(1, 4, {"127.0.0.1:abc"});
    const WorkStatus status = work->Run();
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    EXPECT_EQ(HttpData(status).Status().State, HttpRequestResult::BadUrl);
    EXPECT_EQ(HttpData(status).ToTransferError(), TransferError::RequestError);
    EXPECT_EQ(retries.Hosts(), std::vector<std::string>(4, "127.0.0.1:abc"));

    auto mixed = Request(1, 1, {"127.0.0.1:abc", HostOf(*mirrors[0])});
    const WorkStatus served = mixed->Run();
    EXPECT_EQ(served.result, WorkResult::Success) << Describe(served);
}

// An optimizer that returns without choosing a node: the request cannot be made, and no node can be blamed.
class UndecidedOptimizer : public TransferOptimizer {
public:
    using TransferOptimizer::TransferOptimizer;
    void GetNode(OptimizedRequestParams&) override {}

protected:
    void RecordResult(const OptimizedRequestParams&, const HttpTransferStatusData&) override {}
};

TEST_F(ChunkRequestTest, NoNodeChosenIsAFatalInternalError) {
    auto work = Request(1, 4);
    UndecidedOptimizer undecided(settings);
    iface->GetBehavior()->transferOptimizer = &undecided;
    const WorkStatus status = work->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    auto data = std::dynamic_pointer_cast<TransferExceptionData>(status.data);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ToTransferError(), TransferError::InternalError);
    EXPECT_THROW(data->Rethrow(), std::invalid_argument) << "ToUrl's complaint about the missing node";
    EXPECT_EQ(ChunkRequestCount(), 0u);
}

}  // namespace
}  // namespace qelt::test
