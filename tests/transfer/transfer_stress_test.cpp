#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/transfer/transfer_fixture.h"

namespace qelt::test {
namespace {

using namespace std::chrono_literals;

// An analytics sink that checks, at every event, that the transfer's lock is free: another thread must be able to
// take it while the event is being fired. The records themselves are dropped.
class LockProbe final : public AnalyticsManager {
public:
    LockProbe() : AnalyticsManager(1) {}
    ~LockProbe() override {
        Drain();
        for (auto& thread : threads_)
            thread.join();
    }

    void Watch(std::shared_ptr<Transfer> transfer) {
        std::lock_guard lock(mutex_);
        transfer_ = std::move(transfer);
    }

    std::shared_ptr<TrackEventWork> CreateWork(int channel) override {
        std::shared_ptr<Transfer> transfer;
        {
            std::lock_guard lock(mutex_);
            transfer = transfer_;
        }
        // One violation is enough to fail; further probes would only add their waits.
        if (!transfer || violations_ > 0) return std::make_shared<DroppedWork>(channel);
        auto taken = std::make_shared<std::promise<void>>();
        auto future = taken->get_future();
        // Taking the lock waits for whatever other operation holds it, never for this thread unless this thread
        // holds it: then it is only taken once the event has been fired and the wait below has timed out.
        std::thread probe([transfer, taken] {
            transfer->GetWorkInterface();
            taken->set_value();
        });
        ++probes_;
        if (future.wait_for(10s) != std::future_status::ready) ++violations_;
        std::lock_guard lock(mutex_);
        threads_.push_back(std::move(probe));
        return std::make_shared<DroppedWork>(channel);
    }
    void Submit(std::shared_ptr<TrackEventWork>) override {}

    int Probes() const { return probes_; }
    int Violations() const { return violations_; }

private:
    class DroppedWork : public TrackEventWork {
    public:
        using TrackEventWork::TrackEventWork;
        WorkStatus ExecuteTask() override { return WorkStatus(WorkResult::Success); }
    };

    std::mutex mutex_;
    std::shared_ptr<Transfer> transfer_;
    std::vector<std::thread> threads_;
    std::atomic<int> probes_{0};
    std::atomic<int> violations_{0};
};

// Many small chunks, so that works report all the time.
std::vector<PackageFile> ManyChunks() {
    std::vector<PackageFile> files;
    for (int i = 0; i < 3; ++i)
        files.push_back({"f" + std::to_string(i) + ".bin", MakeTestContent(24 * 4096 + 100 * i, 10 + i), 4096});
    return files;
}

class TransferStressTest : public TransferFixture {
protected:
    // Runs `body` on two threads until `duration` has passed.
    static void Hammer(const std::function<void(int)>& body, std::chrono::milliseconds duration) {
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 2; ++thread) {
            threads.emplace_back([&, thread] {
                while (!stop.load()) {
                    body(thread);
                    std::this_thread::sleep_for(1ms);
                }
            });
        }
        std::this_thread::sleep_for(duration);
        stop = true;
        for (auto& thread : threads)
            thread.join();
    }

    LockProbe probe_;
};

TEST_F(TransferStressTest, PauseResumeCancelAndPollsFromTwoThreadsWhileWorksReport) {
    Publish(ManyChunks());
    for (int round = 0; round < 2; ++round) {
        TransferParams params = Params();
        params.transferId = "t" + std::to_string(round);
        const std::filesystem::path folder = dest / params.transferId;
        std::filesystem::create_directories(folder);
        TransferBehavior behavior = Behavior();
        behavior.eventManager = &probe_;
        auto transfer = NewTransfer(params, behavior);
        probe_.Watch(transfer);

        // Slow enough that the hammering meets chunks in flight, and the transfer does not end by itself.
        HttpFault slow;
        slow.bytesPerSecond = 64 * 1024;
        for (const auto& file : files_)
            mirrors[0]->SetFault(FilePath(file.path), slow);

        transfer->Initialize();
        Hammer(
            [&](int thread) {
                if (thread == 0) {
                    transfer->Pause();
                    transfer->Update();
                    transfer->Resume();
                } else {
                    transfer->Start(folder.string());
                    transfer->Update();
                    transfer->Pause();
                    transfer->Retry();
                    transfer->Resume();
                    transfer->GetNodesJson();
                }
            },
            700ms);

        if (round == 0) {
            mirrors[0]->ClearFaults();
            // Whatever state the hammering left, the transfer still completes with every byte verified.
            ASSERT_TRUE(WaitUntil([&] {
                transfer->Resume();
                transfer->Start(folder.string());
                return transfer->Update().state == TransferState::Complete;
            })) << "state "
                << int(transfer->Update().state) << " error " << int(transfer->Update().error);
            const TransferStatus status = transfer->Update();
            EXPECT_EQ(status.error, TransferError::None);
            EXPECT_EQ(status.bytesVerified, TotalSize());
            for (const auto& file : files_)
                EXPECT_TRUE(ReadWholeFile(folder / file.path) == file.content) << file.path;
        } else {
            // Cancelled from one thread while the other goes on.
            Hammer(
                [&](int thread) {
                    if (thread == 0) {
                        transfer->Cancel(true);
                    } else {
                        transfer->Resume();
                        transfer->Update();
                        transfer->Pause();
                    }
                },
                200ms);
            EXPECT_EQ(transfer->Update().state, TransferState::Cancelled);
            WaitForTreeReleased(*transfer);
            for (const auto& file : files_)
                EXPECT_FALSE(std::filesystem::exists(folder / file.path)) << file.path;
        }
    }
    probe_.Watch(nullptr);
    Drain();
    EXPECT_GT(probe_.Probes(), 10);
    EXPECT_EQ(probe_.Violations(), 0) << "an event was fired with the transfer's lock held";
}

}  // namespace
}  // namespace qelt::test
