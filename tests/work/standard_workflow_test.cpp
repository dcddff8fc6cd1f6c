#include <stdexcept>

#include "tests/work/workflow_fixture.h"

namespace qelt::test {
namespace {

using R = WorkResult;
using S = WorkflowState;

class StandardWorkflowTest : public WorkflowFixture {};

TEST_F(StandardWorkflowTest, WithOneLeafInFlightTheLastQueuedRunsFirst) {
    ExecutionLog log;
    auto a = Leaf("a", {R::Success}, 0, &log);
    auto b = Leaf("b", {R::Success}, 0, &log);
    auto c = Leaf("c", {R::Success}, 0, &log);
    c->Hold();
    MakeWorkflow(Compose<ParallelWork>({a, b, c}), 1);
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(c->WaitForAttempts(1));
    EXPECT_EQ(Standard().RunningCount(), 1u);
    EXPECT_EQ(Standard().PendingCount(), 2u);
    c->Release();
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    EXPECT_EQ(log.Names(), (std::vector<std::string>{"c", "b", "a"}));
}

TEST_F(StandardWorkflowTest, PauseCancelsRunningLeavesAndResumeRunsThemAgainFromReset) {
    auto a = Leaf("a");
    auto b = Leaf("b");
    for (auto& leaf : {a, b}) {
        leaf->Hold();
        leaf->AddCompleteCallback(&childReports);
    }
    MakeWorkflow(Compose<ParallelWork>({a, b}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(a->WaitForAttempts(1));
    ASSERT_TRUE(b->WaitForAttempts(1));

    ASSERT_TRUE(workflow->Pause());
    EXPECT_EQ(workflow->GetState(), S::Paused);
    EXPECT_TRUE(workflow->IsPaused());
    ASSERT_TRUE(childReports.WaitFor(2));
    for (const auto& report : childReports.Reports())
        EXPECT_EQ(report.status.result, R::Cancelled);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Standard().PendingCount(), 2u);
    EXPECT_EQ(a->CancelHookCalls(), 1);
    EXPECT_EQ(b->CancelHookCalls(), 1);

    a->Release();
    b->Release();
    ASSERT_TRUE(workflow->Resume());
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    // One cancelled and one full attempt each: the cancel flag was cleared when they were queued again.
    EXPECT_EQ(a->Attempts(), 2);
    EXPECT_EQ(b->Attempts(), 2);
    EXPECT_EQ(childReports.Count(), 4u);
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(StandardWorkflowTest, FatalLeafFinishesTheWorkflowBeforeTheRootReports) {
    auto fatal = Leaf("fatal", {R::FatalError});
    auto sibling = Leaf("sibling");
    sibling->Hold();
    std::atomic<bool> finishedWhenHeard{false};
    std::atomic<std::size_t> rootReportsWhenHeard{99};
    CompletionProbe probe([&](const std::shared_ptr<Work>&, const WorkStatus&) {
        finishedWhenHeard = workflow->IsFinished();
        rootReportsWhenHeard = rootReports.Count();
    });
    fatal->AddCompleteCallback(&probe);
    // The parallel work sits in a sequence, so the root hears of the failure only through two composites.
    auto root = Compose({Compose<ParallelWork>({fatal, sibling}), Leaf("never")});
    MakeWorkflow(root);
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_TRUE(finishedWhenHeard.load());
    EXPECT_EQ(rootReportsWhenHeard.load(), 0u);
    EXPECT_EQ(workflow->GetState(), S::Finished);
    const WorkStatus status = rootReports.Reports().front().status;
    EXPECT_EQ(status.result, R::FatalError);
    EXPECT_EQ(DataMessage(status), "fatal failed");

    // The interrupted sibling is not queued again, and nothing can be queued any more.
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Standard().PendingCount(), 0u);
    workflow->Enqueue(Leaf("late"));
    EXPECT_EQ(Standard().PendingCount(), 0u);
    EXPECT_FALSE(workflow->Pause());
    EXPECT_FALSE(workflow->Resume());
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(StandardWorkflowTest, SecondRetryableErrorWhileErrorPausedDoesNotNotifyAgain) {
    auto first = Leaf("first", {R::RetryableError, R::Success});
    auto second = Leaf("second", {R::RetryableError, R::Success});
    // The second leaf's attempt cannot be interrupted, so it ends with its error after the pause.
    second->SetInterruptible(false);
    second->Hold();
    second->AddCompleteCallback(&childReports);
    first->Hold();
    MakeWorkflow(Compose<ParallelWork>({first, second}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(second->WaitForAttempts(1));
    first->Release();

    ASSERT_TRUE(retryableErrors.WaitFor(1));
    EXPECT_EQ(retryableErrors.Reports().front().work, first);
    EXPECT_EQ(workflow->GetState(), S::PausedByError);
    second->Release();
    ASSERT_TRUE(childReports.WaitFor(1));
    EXPECT_EQ(childReports.Reports().front().status.result, R::RetryableError);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(retryableErrors.Count(), 1u);
    EXPECT_EQ(Standard().PendingCount(), 2u);

    ASSERT_TRUE(workflow->ResumeAfterError());
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    EXPECT_EQ(first->Executions(), 2);
    EXPECT_EQ(second->Executions(), 2);
}

TEST_F(StandardWorkflowTest, UserPauseAndErrorPauseCombine) {
    auto leaf = Leaf("leaf");
    leaf->Hold();
    auto root = Compose({leaf});
    MakeWorkflow(root);
    EXPECT_FALSE(workflow->IsStarted());
    EXPECT_FALSE(workflow->Pause());
    // Before Start a report is ignored.
    workflow->OnWorkComplete(leaf, WorkStatus(R::RetryableError));
    EXPECT_EQ(retryableErrors.Count(), 0u);
    EXPECT_EQ(workflow->GetState(), S::NotStarted);

    ASSERT_TRUE(workflow->Start());
    EXPECT_FALSE(workflow->Start());
    EXPECT_FALSE(workflow->Resume());
    EXPECT_FALSE(workflow->ResumeAfterError());
    ASSERT_TRUE(leaf->WaitForAttempts(1));

    // Error first, then the user.
    workflow->OnWorkComplete(leaf, WorkStatus(R::RetryableError));
    EXPECT_EQ(workflow->GetState(), S::PausedByError);
    EXPECT_TRUE(workflow->Pause());
    EXPECT_EQ(workflow->GetState(), S::PausedBoth);
    EXPECT_TRUE(workflow->IsPaused());
    EXPECT_TRUE(workflow->IsErrorPaused());
    EXPECT_FALSE(workflow->Pause());
    EXPECT_TRUE(workflow->ResumeAfterError());
    EXPECT_EQ(workflow->GetState(), S::Paused);
    EXPECT_TRUE(workflow->Resume());
    EXPECT_EQ(workflow->GetState(), S::Running);

    // The user first, then an error.
    ASSERT_TRUE(leaf->WaitForAttempts(2));
    EXPECT_TRUE(workflow->Pause());
    workflow->OnWorkComplete(leaf, WorkStatus(R::RetryableError));
    EXPECT_EQ(workflow->GetState(), S::PausedBoth);
    EXPECT_EQ(retryableErrors.Count(), 2u);
    // Resuming one cause leaves the other: nothing runs.
    EXPECT_TRUE(workflow->Resume());
    EXPECT_EQ(workflow->GetState(), S::PausedByError);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Standard().PendingCount(), 1u);

    leaf->Release();
    EXPECT_TRUE(workflow->ResumeAfterError());
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    EXPECT_EQ(workflow->GetState(), S::Finished);
    EXPECT_EQ(leaf->Executions(), 1);
}

TEST_F(StandardWorkflowTest, CancelStopsOnceAndTheRootReportsTheGivenStatusOnce) {
    auto leaf = Leaf("leaf");
    leaf->Hold();
    MakeWorkflow(Compose({leaf, Leaf("next")}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(leaf->WaitForAttempts(1));

    const WorkStatus cancel(R::FatalError, std::make_shared<WorkErrorData>("cancelled by owner"));
    EXPECT_TRUE(workflow->Cancel(cancel));
    EXPECT_EQ(workflow->GetState(), S::Stopped);
    EXPECT_TRUE(workflow->IsFinished());
    EXPECT_FALSE(workflow->Cancel(cancel));
    ASSERT_EQ(rootReports.Count(), 1u);
    EXPECT_EQ(DataMessage(rootReports.Reports().front().status), "cancelled by owner");

    // The running leaf was interrupted and is not queued again.
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(leaf->CancelHookCalls(), 1);
    EXPECT_EQ(Standard().PendingCount(), 0u);
    EXPECT_FALSE(workflow->Resume());
    EXPECT_FALSE(workflow->ResumeAfterError());
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(StandardWorkflowTest, CancelAfterTheRootFinishedStillStopsAndReportsOnce) {
    EXPECT_EQ(RunToEnd(Compose({Leaf("only")})).result, R::Success);
    EXPECT_EQ(workflow->GetState(), S::Finished);
    EXPECT_TRUE(workflow->Cancel(WorkStatus(R::Cancelled)));
    EXPECT_EQ(workflow->GetState(), S::Stopped);
    EXPECT_FALSE(workflow->Cancel(WorkStatus(R::Cancelled)));
    ASSERT_EQ(rootReports.Count(), 2u);
    EXPECT_EQ(rootReports.Reports().back().status.result, R::Cancelled);
}

TEST_F(StandardWorkflowTest, CancelBeforeStartMakesStartRunNothing) {
    auto leaf = Leaf("leaf");
    MakeWorkflow(Compose({leaf}));
    EXPECT_TRUE(workflow->Cancel(WorkStatus(R::Cancelled)));
    EXPECT_FALSE(workflow->Start());
    EXPECT_EQ(Standard().PendingCount(), 0u);
    EXPECT_EQ(leaf->Attempts(), 0);
}

// A restartable sequence that, after folding a Failure, holds the pool thread before that thread can tell the
// workflow the leaf has finished.
class StallingSequence : public LimitedRetrySequentialWork {
public:
    using LimitedRetrySequentialWork::LimitedRetrySequentialWork;
    void OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& status) override {
        LimitedRetrySequentialWork::OnWorkComplete(child, status);
        if (status.result != WorkResult::Failure) return;
        std::unique_lock lock(mutex_);
        stalled_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    bool WaitUntilStalled() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return stalled_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stalled_ = false;
    bool released_ = false;
};

TEST_F(StandardWorkflowTest, LeafQueuedAgainBeforeItsTaskEndedIsNotPostedTwice) {
    auto step = Leaf("step", {R::Failure, R::Success});
    auto sequence = std::make_shared<StallingSequence>(1u);
    sequence->AddWork(step);
    auto sibling = Leaf("sibling");
    sibling->Hold();
    MakeWorkflow(Compose<ParallelWork>({sequence, sibling}), 2);
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(sequence->WaitUntilStalled());

    // The sibling's end makes the workflow dispatch while the step's first task is still in progress.
    sibling->Release();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Standard().RunningCount() != 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(Standard().RunningCount(), 1u);
    EXPECT_FALSE(step->WaitForAttempts(2, std::chrono::milliseconds(200)));

    sequence->Release();
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    EXPECT_EQ(step->Executions(), 2);
    EXPECT_FALSE(step->RanConcurrently());
    ASSERT_TRUE(WaitUntilIdle());
}

TEST_F(StandardWorkflowTest, LeavesDispatchedAsALeafFinishesStillRunSideBySide) {
    // The two leaves are dispatched together when the first step's task ends; both must be running at once.
    auto b1 = Leaf("b1");
    auto b2 = Leaf("b2");
    b1->Hold();
    b2->Hold();
    MakeWorkflow(Compose({Leaf("first"), Compose<ParallelWork>({b1, b2})}), 2);
    ASSERT_TRUE(workflow->Start());
    EXPECT_TRUE(b1->WaitForAttempts(1));
    EXPECT_TRUE(b2->WaitForAttempts(1));
    b1->Release();
    b2->Release();
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
}

// Runs a second workflow on the same pool from inside its attempt and waits for it.
class NestedWorkflowWork : public SimpleWork {
public:
    explicit NestedWorkflowWork(WorkManager& manager) : manager_(manager) {}
    WorkStatus ExecuteTask() override {
        auto root = Compose<ParallelWork>({Leaf("inner1"), Leaf("inner2")});
        root->AddCompleteCallback(&innerReports_);
        inner_ = StandardWorkflow::Create(root, &manager_, 2);
        inner_->Start();
        return WorkStatus(innerReports_.WaitFor(1) ? R::Success : R::Failure);
    }
    void Cancel() override {}

private:
    WorkManager& manager_;
    // Members, so that they outlive inner tasks still on their way out.
    StatusRecorder innerReports_;
    std::shared_ptr<Workflow> inner_;
};

TEST_F(StandardWorkflowTest, LeafWaitingForAnotherWorkflowOnTheSamePoolIsNotBlockedByIt) {
    // The nested workflow is started from a pool thread; its leaves must go to free threads, not wait for the
    // thread that waits for them.
    const WorkStatus status = RunToEnd(Compose({Leaf("first"), std::make_shared<NestedWorkflowWork>(manager)}));
    EXPECT_EQ(status.result, R::Success);
}

class ThrowingWork : public SimpleWork {
public:
    WorkStatus ExecuteTask() override { throw std::runtime_error("broken work"); }
    void Cancel() override {}
};

TEST_F(StandardWorkflowTest, ExceptionOutOfALeafStopsTheWorkflowWithItsData) {
    const WorkStatus status = RunToEnd(Compose({std::make_shared<ThrowingWork>(), Leaf("next")}));
    EXPECT_EQ(status.result, R::FatalError);
    auto data = std::dynamic_pointer_cast<WorkExceptionData>(status.data);
    ASSERT_NE(data, nullptr);
    EXPECT_THROW(data->Rethrow(), std::runtime_error);
    EXPECT_EQ(workflow->GetState(), S::Stopped);
}

}  // namespace
}  // namespace qelt::test
