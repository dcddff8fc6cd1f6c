#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "tests/work/status_recorder.h"
#include "work/asio_work_manager.h"
#include "work/conditional_work.h"
#include "work/limited_retry_simple_work.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"
#include "work/standard_workflow.h"

namespace qelt::test {
namespace {

using R = WorkResult;
using Clock = std::chrono::steady_clock;

// Leaves currently inside ExecuteTask, and the most ever seen at once.
struct Concurrency {
    std::atomic<int> executing{0};
    std::atomic<int> peak{0};
};

// A leaf whose attempts over its whole life go: `retryables` RetryableErrors, then `failures` Failures, then
// `final` for ever. An attempt sleeps `sleepUs` first; a cancel cuts the sleep short and ends the attempt with
// Cancelled without using up a step.
class StressLeaf : public LimitedRetrySimpleWork {
public:
    StressLeaf(Concurrency& concurrency, int retryables, int failures, R final, int sleepUs, unsigned budget)
        : LimitedRetrySimpleWork(budget),
          concurrency_(concurrency),
          retryables_(retryables),
          failures_(failures),
          final_(final),
          sleepUs_(sleepUs) {}

    WorkStatus ExecuteTask() override {
        if (inAttempt_.exchange(true)) overlapped_ = true;
        const int now = ++concurrency_.executing;
        for (int peak = concurrency_.peak.load();
             now > peak && !concurrency_.peak.compare_exchange_weak(peak, now);) {
        }
        ++attempts_;
        WorkStatus status = Attempt();
        --concurrency_.executing;
        inAttempt_ = false;
        lastResult_ = status.result;
        return status;
    }

    void Cancel() override {
        std::lock_guard lock(mutex_);
        wake_.notify_all();
    }

    int Attempts() const { return attempts_.load(); }
    int Steps() const { return steps_.load(); }
    R LastResult() const { return lastResult_.load(); }
    R Final() const { return final_; }
    int PlannedSteps() const { return retryables_ + failures_ + 1; }
    bool Overlapped() const { return overlapped_.load(); }

private:
    WorkStatus Attempt() {
        if (sleepUs_ > 0) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::microseconds(sleepUs_), [this] { return IsCancelRequested(); }))
                return WorkStatus(R::Cancelled);
        }
        const int step = steps_++;
        if (step < retryables_) return WorkStatus(R::RetryableError);
        if (step < retryables_ + failures_) return WorkStatus(R::Failure);
        return WorkStatus(final_);
    }

    Concurrency& concurrency_;
    const int retryables_;
    const int failures_;
    const R final_;
    const int sleepUs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<int> attempts_{0};
    std::atomic<int> steps_{0};
    std::atomic<R> lastResult_{R::FatalError};
    std::atomic<bool> inAttempt_{false};
    std::atomic<bool> overlapped_{false};
};

// One chunk-like unit: a check, then either a trivial leaf or a restartable fetch-and-verify sequence.
struct Unit {
    std::shared_ptr<StressLeaf> condition, onSuccess, fetch, verify;
    std::shared_ptr<ConditionalWork> work;
};

// Counts the root's reports and wakes the waiting test thread.
class RootWatch : public WorkCompleteCallback {
public:
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus& status) override {
        std::lock_guard lock(mutex_);
        if (reports_++ == 0) first_ = status;
        changed_.notify_all();
    }
    bool WaitFor(Clock::duration timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return reports_ > 0; });
    }
    int Reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    WorkStatus First() const {
        std::lock_guard lock(mutex_);
        return first_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int reports_ = 0;
    WorkStatus first_;
};

TEST(WorkflowStressTest, LargeTreeFinishesOnceUnderRandomPausesAndErrors) {
    constexpr int kSequences = 300;
    constexpr int kUnitsPerSequence = 5;  // 4 leaves per unit: 6,000 leaves
    constexpr unsigned kMaxInFlight = 6;
    std::mt19937 random(20240611);
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto sleepUs = [&] { return chance(25) ? pick(20, 300) : 0; };

    Concurrency concurrency;
    RootWatch rootWatch;
    StatusRecorder retryableErrors;
    std::vector<Unit> units;
    auto root = std::make_shared<ParallelWork>();
    for (int s = 0; s < kSequences; ++s) {
        auto sequence = std::make_shared<SequentialWork>();
        for (int u = 0; u < kUnitsPerSequence; ++u) {
            Unit unit;
            // A retryable error beyond a leaf's budget of 1, or a third failed verification, escapes and pauses
            // the workflow until it is resumed after the error.
            unit.condition = std::make_shared<StressLeaf>(concurrency, chance(10) ? pick(1, 2) : 0, 0,
                                                          chance(40) ? R::Failure : R::Success, sleepUs(), 1);
            unit.onSuccess = std::make_shared<StressLeaf>(concurrency, 0, 0, R::Success, sleepUs(), 0);
            unit.fetch = std::make_shared<StressLeaf>(concurrency, chance(20) ? pick(1, 2) : 0, 0, R::Success,
                                                      sleepUs(), 1);
            unit.verify = std::make_shared<StressLeaf>(
                concurrency, 0, chance(30) ? (chance(5) ? 3 : pick(1, 2)) : 0, R::Success, sleepUs(), 0);
            auto retried = std::make_shared<LimitedRetrySequentialWork>(2);
            retried->AddWork(unit.fetch);
            retried->AddWork(unit.verify);
            unit.work = std::make_shared<ConditionalWork>(unit.condition, unit.onSuccess, retried);
            sequence->AddWork(unit.work);
            units.push_back(unit);
        }
        root->AddWork(sequence);
    }
    root->AddCompleteCallback(&rootWatch);

    AsioWorkManager manager(8);
    auto workflow = StandardWorkflow::Create(root, &manager, kMaxInFlight);
    workflow->AddRetryableErrorCallback(&retryableErrors);
    ASSERT_TRUE(workflow->Start());

    // Another thread plays a nervous user and an impatient owner for a while, or until the tree is done.
    std::atomic<int> actions{0};
    std::thread chaos([&] {
        std::mt19937 chaosRandom(7);
        const auto until = Clock::now() + std::chrono::milliseconds(1500);
        while (rootWatch.Reports() == 0 && Clock::now() < until) {
            switch (std::uniform_int_distribution<int>(0, 2)(chaosRandom)) {
                case 0:
                    workflow->Pause();
                    break;
                case 1:
                    workflow->Resume();
                    break;
                default:
                    workflow->ResumeAfterError();
                    break;
            }
            ++actions;
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(chaosRandom)));
        }
    });
    chaos.join();

    // Then the owner lets it run, resuming after every error, within a bounded time.
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    workflow->Resume();
    while (!rootWatch.WaitFor(std::chrono::milliseconds(2)) && Clock::now() < deadline)
        workflow->ResumeAfterError();
    const bool finished = rootWatch.Reports() > 0;
    if (!finished) workflow->Cancel(WorkStatus(R::FatalError));
    ASSERT_TRUE(finished) << "the root did not report in time; state " << static_cast<int>(workflow->GetState());

    EXPECT_EQ(rootWatch.First().result, R::Success);
    EXPECT_EQ(workflow->GetState(), WorkflowState::Finished);
    EXPECT_GT(actions.load(), 100);
    EXPECT_GT(retryableErrors.Count(), 0u);
    EXPECT_LE(concurrency.peak.load(), static_cast<int>(kMaxInFlight));

    for (std::size_t i = 0; i < units.size(); ++i) {
        const Unit& unit = units[i];
        SCOPED_TRACE("unit " + std::to_string(i));
        EXPECT_EQ(unit.condition->LastResult(), unit.condition->Final());
        EXPECT_GE(unit.condition->Steps(), unit.condition->PlannedSteps());
        if (unit.condition->Final() == R::Success) {
            EXPECT_EQ(unit.onSuccess->LastResult(), R::Success);
            EXPECT_EQ(unit.fetch->Attempts() + unit.verify->Attempts(), 0);
        } else {
            EXPECT_EQ(unit.onSuccess->Attempts(), 0);
            EXPECT_EQ(unit.fetch->LastResult(), R::Success);
            EXPECT_EQ(unit.verify->LastResult(), R::Success);
            EXPECT_EQ(unit.verify->Steps(), unit.verify->PlannedSteps());
        }
        for (const auto* leaf : {&unit.condition, &unit.onSuccess, &unit.fetch, &unit.verify})
            EXPECT_FALSE((*leaf)->Overlapped());
    }

    // Nothing reports twice, even after the pool has drained.
    const auto settle = Clock::now() + std::chrono::seconds(10);
    while (static_cast<StandardWorkflow&>(*workflow).RunningCount() != 0 && Clock::now() < settle)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(static_cast<StandardWorkflow&>(*workflow).RunningCount(), 0u);
    EXPECT_EQ(rootWatch.Reports(), 1);
}

}  // namespace
}  // namespace qelt::test
