#include "app/transfer_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/recording_monitor_callback.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;
using test::RecordingMonitorCallback;

TransferStatus Status(TransferState state, TransferError error = TransferError::None, bool retryable = false) {
    TransferStatus status = FreshTransferStatus("", state);
    status.error = error;
    status.errorRetryable = retryable;
    return status;
}

// Statuses set by the test; an id without one answers Unknown, as the service does. Throws once for an id in
// `throwOnce`.
class ScriptedSource : public TransferStatusSource {
public:
    TransferStatus GetTransferStatus(const std::string& id) override {
        std::lock_guard lock(mutex);
        ++polls[id];
        if (throwOnce.erase(id) != 0) throw std::runtime_error("status failed");
        auto found = statuses.find(id);
        TransferStatus status = found == statuses.end() ? Status(TransferState::Unknown) : found->second;
        status.transferId = id;
        return status;
    }
    void Set(const std::string& id, TransferStatus status) {
        std::lock_guard lock(mutex);
        statuses[id] = status;
    }
    int Polls(const std::string& id) {
        std::lock_guard lock(mutex);
        return polls[id];
    }

    std::mutex mutex;
    std::map<std::string, TransferStatus> statuses;
    std::map<std::string, int> polls;
    std::set<std::string> throwOnce;
};

TEST(TransferMonitorTest, EachStatusTakesItsBranchAndOnlyProgressKeepsTheWatch) {
    ScriptedSource source;
    source.Set("b-suspended", Status(TransferState::Suspended));
    source.Set("c-fatal", Status(TransferState::Transferring, TransferError::ConnectionError));
    source.Set("d-retryable", Status(TransferState::Transferring, TransferError::ConnectionError, true));
    source.Set("e-running", Status(TransferState::InitializingPaused));
    source.Set("f-ready", Status(TransferState::Initialized));
    source.Set("g-ready-retryable", Status(TransferState::Initialized, TransferError::ConnectionError, true));
    RecordingMonitorCallback callback;
    TransferMonitorImpl monitor(source);
    for (const auto& id :
         {"a-unknown", "b-suspended", "c-fatal", "d-retryable", "e-running", "f-ready", "g-ready-retryable"}) {
        monitor.Register(id, &callback);
    }
    monitor.Start();
    ASSERT_TRUE(callback.WaitFor("progress", "e-running"));
    // Three more rounds of progress: every other transfer was reported once and left alone since.
    while (source.Polls("e-running") < 4)
        std::this_thread::sleep_for(10ms);
    monitor.Stop();
    const std::vector<std::string> reports = callback.Kinds();
    ASSERT_GE(reports.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(reports.begin(), reports.begin() + 8),
              (std::vector<std::string>{"complete a-unknown", "complete b-suspended", "complete c-fatal",
                                        "error d-retryable", "progress e-running", "ready f-ready",
                                        "ready g-ready-retryable", "error g-ready-retryable"}));
    for (const auto& id : {"a-unknown", "b-suspended", "c-fatal", "d-retryable", "f-ready", "g-ready-retryable"})
        EXPECT_EQ(source.Polls(id), 1) << id;
    EXPECT_EQ(callback.Threads().size(), 1u);
}

TEST(TransferMonitorTest, ACallbackMayRegisterTheTransferAgain) {
    ScriptedSource source;
    source.Set("t", Status(TransferState::Initialized));
    RecordingMonitorCallback callback;
    TransferMonitorImpl monitor(source);
    callback.onReady = [&](const TransferStatus& status) {
        source.Set("t", Status(TransferState::Transferring));
        monitor.Register(status.transferId, &callback);
    };
    monitor.Register("t", &callback);
    monitor.Start();
    EXPECT_TRUE(callback.WaitFor("progress", "t"));
}

TEST(TransferMonitorTest, AFailedRoundEndsQuietlyAndTheNextOneGoesOn) {
    ScriptedSource source;
    source.throwOnce = {"a"};
    source.Set("a", Status(TransferState::Complete));
    source.Set("b", Status(TransferState::Complete));
    RecordingMonitorCallback callback;
    TransferMonitorImpl monitor(source);
    monitor.Register("a", &callback);
    monitor.Register("b", &callback);
    monitor.Start();
    ASSERT_TRUE(callback.WaitFor("complete", "b"));
    EXPECT_EQ(callback.Kinds(), (std::vector<std::string>{"complete a", "complete b"}));
    EXPECT_EQ(source.Polls("a"), 2);
    EXPECT_EQ(source.Polls("b"), 1) << "the failed round should have ended before b";
}

TEST(TransferMonitorTest, StopBeforeStartLeavesNoThreadAndAStopEndsTheRoundUnderWay) {
    ScriptedSource source;
    RecordingMonitorCallback unused;
    {
        TransferMonitorImpl monitor(source);
        monitor.Register("a", &unused);
        monitor.Stop();
        monitor.Start();
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_EQ(source.Polls("a"), 0);

    // A status read that blocks until released: Stop during it ends the round before the next transfer.
    class BlockingSource : public ScriptedSource {
    public:
        TransferStatus GetTransferStatus(const std::string& id) override {
            entered.set_value();
            release.get_future().wait();
            return ScriptedSource::GetTransferStatus(id);
        }
        std::promise<void> entered, release;
    } blocking;
    RecordingMonitorCallback callback;
    TransferMonitorImpl monitor(blocking);
    monitor.Register("a", &callback);
    monitor.Register("b", &callback);
    monitor.Start();
    blocking.entered.get_future().wait();
    std::thread stopper([&] { monitor.Stop(); });
    std::this_thread::sleep_for(50ms);
    blocking.release.set_value();
    stopper.join();
    EXPECT_EQ(blocking.Polls("b"), 0);
    EXPECT_EQ(callback.Kinds(), (std::vector<std::string>{"complete a"}));
}

TEST(TransferMonitorTest, ARoundIsDueAfterNineTenthsOfTheIntervalOnItsClock) {
    ScriptedSource source;
    source.Set("t", Status(TransferState::Transferring));
    std::atomic<std::uint32_t> now{1000};
    RecordingMonitorCallback callback;
    TransferMonitorImpl monitor(source, [&] { return now.load(); });
    monitor.Register("t", &callback);
    monitor.Start();
    monitor.Start();
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(source.Polls("t"), 0) << "no time has passed on the monitor's clock";
    now += 89;
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(source.Polls("t"), 0);
    now += 1;
    ASSERT_TRUE(callback.WaitFor("progress", "t"));
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(source.Polls("t"), 1) << "the next round waits for the clock again";
    now += 95;
    while (source.Polls("t") < 2)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(callback.Threads().size(), 1u) << "a second Start must not start a second thread";
}

}  // namespace
}  // namespace qelt
