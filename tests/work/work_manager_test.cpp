#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/work/recording_workflow.h"
#include "work/asio_work_manager.h"
#include "work/work.h"
#include "work/workflow.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;
using test::RecordingWorkflow;

// Counts down to zero and lets a test wait for it with a bound.
class Countdown {
public:
    explicit Countdown(int count) : count_(count) {}
    void Arrive() {
        std::lock_guard lock(mutex_);
        if (--count_ == 0) zero_.notify_all();
    }
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return zero_.wait_for(lock, limit, [&] { return count_ <= 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable zero_;
    int count_;
};

class CountingWork : public SimpleWork {
public:
    explicit CountingWork(Countdown* done = nullptr) : done_(done) {}
    WorkStatus ExecuteTask() override {
        runs.fetch_add(1);
        if (done_) done_->Arrive();
        return WorkStatus(WorkResult::Success);
    }
    void Cancel() override {}
    std::atomic<int> runs{0};

private:
    Countdown* done_;
};

class ThrowingWork : public SimpleWork {
public:
    WorkStatus ExecuteTask() override { throw std::runtime_error("escaped"); }
    void Cancel() override {}
};

struct CompletionCounter : WorkCompleteCallback {
    explicit CompletionCounter(Countdown& done) : done(done) {}
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus& status) override {
        results.push_back(status.result);
        done.Arrive();
    }
    Countdown& done;
    std::vector<WorkResult> results;
};

TEST(AsioWorkManager, WorksPostedFromManyThreadsRunExactlyOnce) {
    constexpr int kPosters = 4, kPerPoster = 2500;
    Countdown done(kPosters * kPerPoster);
    std::vector<std::shared_ptr<CountingWork>> works;
    for (int i = 0; i < kPosters * kPerPoster; ++i)
        works.push_back(std::make_shared<CountingWork>(&done));
    {
        AsioWorkManager manager(4);
        std::vector<std::thread> posters;
        for (int p = 0; p < kPosters; ++p) {
            posters.emplace_back([&, p] {
                for (int i = 0; i < kPerPoster; ++i)
                    manager.PostWork(works[p * kPerPoster + i]);
            });
        }
        for (auto& t : posters)
            t.join();
        ASSERT_TRUE(done.WaitFor(30s));
    }
    for (const auto& work : works)
        ASSERT_EQ(work->runs.load(), 1);
}

TEST(AsioWorkManager, LoneWorkIsRunThenNotified) {
    Countdown done(1);
    CompletionCounter counter(done);
    auto work = std::make_shared<CountingWork>();
    work->AddCompleteCallback(&counter);
    AsioWorkManager manager(2);
    manager.PostWork(work);
    ASSERT_TRUE(done.WaitFor(10s));
    EXPECT_EQ(work->runs.load(), 1);
    EXPECT_EQ(counter.results, std::vector{WorkResult::Success});
}

TEST(AsioWorkManager, ThrowingLoneWorkIsSilentAndThePoolSurvives) {
    AsioWorkManager manager(1);
    for (int i = 0; i < 3; ++i)
        manager.PostWork(std::make_shared<ThrowingWork>());
    Countdown done(1);
    auto after = std::make_shared<CountingWork>(&done);
    manager.PostWork(after);
    ASSERT_TRUE(done.WaitFor(10s)) << "the only pool thread must survive the throws";
}

TEST(AsioWorkManager, WorkflowLeafIsRunNotifiedThenFinished) {
    auto workflow = std::make_shared<RecordingWorkflow>();
    auto work = std::make_shared<CountingWork>();
    work->Attach(workflow);
    AsioWorkManager manager(2);
    manager.PostWorkflowWork(workflow, work);
    ASSERT_EQ(workflow->finishedOne.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(workflow->reports.load(), 1) << "NotifyComplete reaches the attached workflow first";
    EXPECT_EQ(workflow->finished, std::vector{WorkResult::Success});
    EXPECT_TRUE(workflow->cancels.empty());
}

TEST(AsioWorkManager, ThrowingWorkflowLeafCancelsTheWorkflowWithTheException) {
    auto workflow = std::make_shared<RecordingWorkflow>();
    AsioWorkManager manager(2);
    manager.PostWorkflowWork(workflow, std::make_shared<ThrowingWork>());
    ASSERT_EQ(workflow->cancelled.get_future().wait_for(10s), std::future_status::ready);
    std::lock_guard lock(workflow->mutex);
    ASSERT_EQ(workflow->cancels.size(), 1u);
    const auto& status = workflow->cancels.front();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    auto data = std::dynamic_pointer_cast<WorkExceptionData>(status.data);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->ToString(), "std::runtime_error");
    EXPECT_THROW(data->Rethrow(), std::runtime_error);
    EXPECT_TRUE(workflow->finished.empty()) << "OnWorkFinished is not reached past the throw";
}

TEST(AsioWorkManager, DestructionAbandonsQueuedTasksAndDoesNotHang) {
    std::latch started(1);
    std::latch release(1);
    class BlockingWork : public SimpleWork {
    public:
        BlockingWork(std::latch& started, std::latch& release) : started_(started), release_(release) {}
        WorkStatus ExecuteTask() override {
            started_.count_down();
            release_.wait();
            return WorkStatus(WorkResult::Success);
        }
        void Cancel() override {}

    private:
        std::latch& started_;
        std::latch& release_;
    };

    // Each queued work takes a while, so that even a destructor slow to reach its stop leaves most of them unrun.
    class SlowWork : public CountingWork {
    public:
        WorkStatus ExecuteTask() override {
            std::this_thread::sleep_for(2ms);
            return CountingWork::ExecuteTask();
        }
    };

    auto blocker = std::make_shared<BlockingWork>(started, release);
    std::vector<std::shared_ptr<CountingWork>> queued;
    auto manager = std::make_unique<AsioWorkManager>(1);
    manager->PostWork(blocker);
    for (int i = 0; i < 1000; ++i) {
        queued.push_back(std::make_shared<SlowWork>());
        manager->PostWork(queued.back());
    }
    started.wait();
    std::latch destroying(1);
    auto destroyed = std::async(std::launch::async, [&] {
        destroying.count_down();
        manager.reset();
    });
    // The destructor stops the queue before it joins the running work, which is released once the destructor has
    // begun: at most a work or two can start before the stop.
    destroying.wait();
    release.count_down();
    ASSERT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    int ran = 0;
    for (const auto& work : queued)
        ran += work->runs.load();
    // Normally none runs; only a destructor delayed by more than a second past the release could let half run.
    EXPECT_LT(ran, 500);
    for (const auto& work : queued)
        EXPECT_EQ(work.use_count(), 1) << "abandoned tasks release their works";
}

TEST(AsioWorkManager, WithoutThreadsNothingRuns) {
    Countdown done(1);
    auto work = std::make_shared<CountingWork>(&done);
    {
        AsioWorkManager manager(0);
        manager.PostWork(work);
        EXPECT_FALSE(done.WaitFor(50ms));
    }
    EXPECT_EQ(work->runs.load(), 0);
    EXPECT_EQ(work.use_count(), 1) << "the abandoned task released its work";
}

TEST(AsioWorkManager, DrainRunsEveryQueuedTaskAndTheTasksTheyPost) {
    // Each work posts a follow-up while the pool is already draining; the follow-ups must run too.
    class PostingWork : public CountingWork {
    public:
        PostingWork(AsioWorkManager& manager, std::shared_ptr<CountingWork> next)
            : manager_(manager), next_(std::move(next)) {}
        WorkStatus ExecuteTask() override {
            std::this_thread::sleep_for(1ms);
            manager_.PostWork(next_);
            return CountingWork::ExecuteTask();
        }

    private:
        AsioWorkManager& manager_;
        std::shared_ptr<CountingWork> next_;
    };

    AsioWorkManager manager(2);
    std::vector<std::shared_ptr<CountingWork>> works;
    for (int i = 0; i < 100; ++i) {
        auto next = std::make_shared<CountingWork>();
        works.push_back(next);
        works.push_back(std::make_shared<PostingWork>(manager, next));
        manager.PostWork(works.back());
    }
    manager.Drain();
    for (const auto& work : works)
        EXPECT_EQ(work->runs.load(), 1);
}

}  // namespace
}  // namespace qelt
