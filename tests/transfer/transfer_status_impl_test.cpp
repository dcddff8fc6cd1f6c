#include "transfer/transfer_status_impl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "transfer/transfer_params.h"

namespace qelt {
namespace {

// A status object on a hand-driven clock, in the Transferring state.
class StatusFixture : public ::testing::Test {
protected:
    StatusFixture() : status_(&params_, 10, 500, [this] { return nowMs_; }) {
        params_.transferId = "t1";
        params_.partnerId = "p";
        params_.packageId = "k";
        params_.versionId = "v";
        params_.destPath = "/dest";
        status_.Record().state = TransferState::Transferring;
        status_.Record().bytesTotal = 1'000'000;
    }

    TransferStatus Poll(std::uint32_t atMs) {
        nowMs_ = atMs;
        TransferStatus out;
        status_.GetStatus(out);
        return out;
    }

    void Download(std::uint64_t bytes) {
        status_.AddDownloaded(bytes);
        status_.AddProgress(bytes);
    }

    TransferParams params_;
    std::uint32_t nowMs_ = 0;
    TransferStatusImpl status_;
};

TEST_F(StatusFixture, RateDividesByTheWindowUntilTheSamplesSpanMore) {
    Poll(0);
    Download(500'000);
    EXPECT_EQ(Poll(1000).bytesPerSecond, 50'000u) << "one second of data over a 10 s window";
}

TEST_F(StatusFixture, RateDividesByTheSpanWhenItExceedsTheWindow) {
    Poll(0);
    Download(1'200'000);
    EXPECT_EQ(Poll(12'000).bytesPerSecond, 100'000u) << "two samples 12 s apart: divisor 12";
}

TEST_F(StatusFixture, OldSamplesLeaveTheWindow) {
    Poll(0);
    Download(6'000'000);
    Poll(6000);
    Download(600'000);
    // The 0 s sample is 12 s old and goes; the 6 s one stays: 600 000 bytes over max(6, 10) s.
    EXPECT_EQ(Poll(12'000).bytesPerSecond, 60'000u);
}

TEST_F(StatusFixture, NoRateOrEstimateBeforeTheFirstByte) {
    const auto first = Poll(0);
    EXPECT_EQ(first.bytesPerSecond, 0u);
    EXPECT_EQ(first.secondsRemaining, -1);
    EXPECT_EQ(Poll(5000).secondsRemaining, -1) << "time without data is not active time";
}

TEST_F(StatusFixture, EstimateIsRemainingBytesOverAverageSpeed) {
    Poll(0);
    Download(100'000);
    const auto status = Poll(1000);
    EXPECT_EQ(status.secondsRemaining, 9) << "900 000 bytes left at 100 000 B/s";
    EXPECT_EQ(status.bytesDownloaded, 100'000u);
    EXPECT_EQ(status.bytesTransferred, 100'000u);
}

TEST_F(StatusFixture, EstimateChangesAtMostEveryInterval) {
    Poll(0);
    Download(100'000);
    EXPECT_EQ(Poll(1000).secondsRemaining, 9);
    Download(400'000);
    EXPECT_EQ(Poll(1200).secondsRemaining, 9) << "200 ms of active time: the cached estimate";
    // 1600 ms active, 500 000 downloaded, 500 000 remaining: 1.6 s per 500 000 bytes.
    EXPECT_EQ(Poll(1600).secondsRemaining, 2);
}

TEST_F(StatusFixture, PausedTransferKeepsItsEstimateAndAddsNoActiveTime) {
    Poll(0);
    Download(100'000);
    const auto running = Poll(1000);
    const auto activeBefore = status_.ActiveSinceMark();
    status_.Record().state = TransferState::TransferringPaused;
    const auto paused = Poll(60'000);
    EXPECT_EQ(paused.secondsRemaining, running.secondsRemaining);
    EXPECT_EQ(status_.ActiveSinceMark(), activeBefore);

    // Back to running: the paused span does not count either, since the previous sample was not measuring.
    status_.Record().state = TransferState::Transferring;
    Poll(61'000);
    EXPECT_EQ(status_.ActiveSinceMark(), activeBefore);
}

TEST_F(StatusFixture, ErrorStopsActiveTimeAndFatalErrorStopsSampling) {
    Poll(0);
    Download(100'000);
    Poll(1000);
    status_.Record().error = TransferError::ConnectionError;
    status_.Record().errorRetryable = true;
    Poll(5000);
    EXPECT_EQ(status_.ActiveSinceMark(), 1000u);

    status_.Record().errorRetryable = false;
    Download(1'000'000);
    // Without a new sample the rate stays 100 000 bytes over the 10 s window, whatever arrived since.
    EXPECT_EQ(Poll(9000).bytesPerSecond, 10'000u) << "no new samples once fatal";
}

TEST_F(StatusFixture, ActiveDeltaMarksMoveOnlyWhenTaken) {
    Poll(0);
    Download(10);
    Poll(700);
    EXPECT_EQ(status_.ActiveSinceMark(), 700u);
    EXPECT_EQ(status_.ActiveSinceMark(), 700u);
    EXPECT_EQ(status_.TakeActiveDelta(), 700u);
    EXPECT_EQ(status_.ActiveSinceMark(), 0u);
    EXPECT_EQ(status_.TakeDownloadedDelta(), 10u);
    EXPECT_EQ(status_.TakeDownloadedDelta(), 0u);
}

TEST_F(StatusFixture, RunPathOnlyWhenComplete) {
    status_.Record().runPath = "bin/run";
    for (auto state : {TransferState::Initializing, TransferState::Initialized, TransferState::Transferring,
                       TransferState::Suspended, TransferState::Cancelled}) {
        status_.Record().state = state;
        EXPECT_EQ(Poll(0).runPath, "") << static_cast<int>(state);
    }
    status_.Record().state = TransferState::Complete;
    EXPECT_EQ(Poll(0).runPath, "bin/run");
}

TEST_F(StatusFixture, IdsComeFromTheCurrentParams) {
    params_.destPath = "/moved";
    const auto status = Poll(0);
    EXPECT_EQ(status.transferId, "t1");
    EXPECT_EQ(status.packageId, "k");
    EXPECT_EQ(status.destPath, "/moved");
}

TEST(TransferStatusImplCounters, ConcurrentUpdatesAddUpExactly) {
    TransferParams params;
    TransferStatusImpl status(&params, 10, 500);
    constexpr int kThreads = 8, kRounds = 20'000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                status.AddDownloaded(3);
                status.AddProgress(5);
                status.RemoveProgress(2);
                status.AddVerified(7);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    TransferStatus out;
    status.GetStatus(out);
    constexpr std::uint64_t kTotal = kThreads * kRounds;
    EXPECT_EQ(out.bytesDownloaded, 3 * kTotal);
    EXPECT_EQ(out.bytesTransferred, 3 * kTotal);
    EXPECT_EQ(out.bytesVerified, 7 * kTotal);
}

TEST(TransferStatusFresh, PlaceholdersAndNoEstimate) {
    const auto fresh = FreshTransferStatus("abc", TransferState::Initializing);
    EXPECT_EQ(fresh.transferId, "abc");
    EXPECT_EQ(fresh.partnerId, "?");
    EXPECT_EQ(fresh.versionId, "?");
    EXPECT_EQ(fresh.destPath, "");
    EXPECT_EQ(fresh.secondsRemaining, -1);
    EXPECT_EQ(fresh.error, TransferError::None);
}

}  // namespace
}  // namespace qelt
