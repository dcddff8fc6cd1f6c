#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "tests/work/workflow_fixture.h"
#include "work/conditional_work.h"
#include "work/deferred_work.h"
#include "work/no_op_work.h"

namespace qelt::test {
namespace {

using R = WorkResult;
const char kInvalidChildProgress[] = "Invalid child progress for CompositeWork::OnWorkComplete";

class CompositeWorkTest : public WorkflowFixture {};

TEST_F(CompositeWorkTest, SequenceRunsChildrenStrictlyOneAfterAnother) {
    ExecutionLog log;
    auto a = Leaf("a", {R::Success}, 0, &log);
    auto b = Leaf("b", {R::Success}, 0, &log);
    auto c = Leaf("c", {R::Success}, 0, &log);
    // Room for all three at once: only the sequence keeps them apart.
    const WorkStatus status = RunToEnd(Compose({a, b, c}), 4);
    EXPECT_EQ(status.result, R::Success);
    EXPECT_EQ(log.Names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(CompositeWorkTest, SequenceEndsWithTheFirstFailureWithoutItsData) {
    auto a = Leaf("a");
    auto b = Leaf("b", {R::Failure});
    auto c = Leaf("c");
    const WorkStatus status = RunToEnd(Compose({a, b, c}));
    EXPECT_EQ(status.result, R::Failure);
    EXPECT_EQ(status.data, nullptr);
    EXPECT_FALSE(status.retry);
    EXPECT_EQ(c->Attempts(), 0);
    EXPECT_TRUE(workflow->IsFinished());
}

TEST_F(CompositeWorkTest, OnlyFatalErrorsCarryTheirDataUp) {
    auto inner = Compose({Leaf("a"), Leaf("b", {R::FatalError}), Leaf("c")});
    const WorkStatus status = RunToEnd(Compose({Leaf("first"), inner}));
    EXPECT_EQ(status.result, R::FatalError);
    EXPECT_EQ(DataMessage(status), "b failed");
}

TEST_F(CompositeWorkTest, ParallelSucceedsOnlyAfterEveryChildSucceeded) {
    auto a = Leaf("a");
    auto b = Leaf("b");
    auto c = Leaf("c");
    c->Hold();
    a->AddCompleteCallback(&childReports);
    b->AddCompleteCallback(&childReports);
    MakeWorkflow(Compose<ParallelWork>({a, b, c}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(childReports.WaitFor(2));
    ASSERT_TRUE(c->WaitForAttempts(1));
    EXPECT_EQ(rootReports.Count(), 0u);
    c->Release();
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
}

TEST_F(CompositeWorkTest, OneFailedParallelChildMakesItFatalWithThatChildsData) {
    auto a = Leaf("a", {R::Failure});
    auto b = Leaf("b");
    b->Hold();
    a->Hold();
    MakeWorkflow(Compose<ParallelWork>({a, b}), 2);
    ASSERT_TRUE(workflow->Start());
    // a fails while b is still running.
    ASSERT_TRUE(b->WaitForAttempts(1));
    a->Release();
    ASSERT_TRUE(rootReports.WaitFor(1));
    const WorkStatus status = rootReports.Reports().front().status;
    EXPECT_EQ(status.result, R::FatalError);
    EXPECT_EQ(DataMessage(status), "a failed");
    EXPECT_EQ(b->Executions(), 0);
    // The fatal report stopped the workflow, which interrupted the sibling and does not run it again.
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_GE(b->CancelHookCalls(), 1);
    EXPECT_EQ(b->Attempts(), 1);
    EXPECT_EQ(Standard().PendingCount(), 0u);
}

TEST_F(CompositeWorkTest, SecondReportOfAParallelChildIsInvalidProgress) {
    auto a = Leaf("a");
    auto b = Leaf("b");
    auto parallel = Compose<ParallelWork>({a, b});
    parallel->AddCompleteCallback(&rootReports);
    parallel->OnWorkComplete(a, WorkStatus(R::Success));
    EXPECT_EQ(rootReports.Count(), 0u);
    parallel->OnWorkComplete(a, WorkStatus(R::Success));
    ASSERT_EQ(rootReports.Count(), 1u);
    const WorkStatus status = rootReports.Reports().front().status;
    EXPECT_EQ(status.result, R::FatalError);
    EXPECT_EQ(DataMessage(status), kInvalidChildProgress);
    // Done: the late report of the other child is ignored.
    parallel->OnWorkComplete(b, WorkStatus(R::Success));
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(CompositeWorkTest, SequenceRejectsAReportFromAChildThatIsNotCurrent) {
    auto a = Leaf("a");
    auto b = Leaf("b");
    auto sequence = Compose({a, b});
    sequence->AddCompleteCallback(&rootReports);
    // Cancelled and retryable reports of the current child change nothing.
    sequence->OnWorkComplete(a, WorkStatus(R::Cancelled));
    sequence->OnWorkComplete(a, WorkStatus(R::RetryableError));
    EXPECT_EQ(rootReports.Count(), 0u);
    sequence->OnWorkComplete(b, WorkStatus(R::Success));
    ASSERT_EQ(rootReports.Count(), 1u);
    EXPECT_EQ(DataMessage(rootReports.Reports().front().status), kInvalidChildProgress);
    // A work that is not a child at all is rejected the same way after a reset.
    sequence->Reset();
    sequence->OnWorkComplete(Leaf("stranger"), WorkStatus(R::Success));
    EXPECT_EQ(rootReports.Count(), 2u);
}

TEST_F(CompositeWorkTest, ParallelIgnoresADuplicateChildAndAChildMovesToItsNewParent) {
    auto a = Leaf("a");
    auto first = std::make_shared<ParallelWork>();
    first->AddWork(a);
    first->AddWork(a);
    EXPECT_EQ(first->ChildCount(), 1u);
    ASSERT_EQ(a->CompleteCallbacks().size(), 1u);

    auto second = std::make_shared<SequentialWork>();
    second->AddWork(a);
    a->AddCompleteCallback(&childReports);
    ASSERT_EQ(a->CompleteCallbacks().size(), 2u);
    EXPECT_EQ(a->CompleteCallbacks().back(), static_cast<WorkCompleteCallback*>(second.get()));
    EXPECT_EQ(a->CompleteCallbacks().front(), &childReports);
}

TEST_F(CompositeWorkTest, LimitedRetrySequenceRestartsWithinBudgetThenPausesTheWorkflow) {
    auto fetch = Leaf("fetch");
    auto verify = Leaf("verify", {R::Failure, R::Failure, R::Failure, R::Success});
    auto sequence = Compose<LimitedRetrySequentialWork>({fetch, verify}, 2u);
    MakeWorkflow(sequence);
    ASSERT_TRUE(workflow->Start());

    // Two silent restarts, then the third failure surfaces as an unabsorbed retryable error.
    ASSERT_TRUE(retryableErrors.WaitFor(1));
    const auto errors = retryableErrors.Reports();
    EXPECT_EQ(errors.front().work, sequence);
    EXPECT_EQ(errors.front().status.result, R::RetryableError);
    EXPECT_FALSE(errors.front().status.retry);
    EXPECT_EQ(DataMessage(errors.front().status), "verify failed");
    // The workflow hears first, the root's own observers after it.
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::RetryableError);
    EXPECT_EQ(workflow->GetState(), WorkflowState::PausedByError);
    EXPECT_EQ(fetch->Executions(), 3);
    EXPECT_EQ(verify->Executions(), 3);
    EXPECT_EQ(sequence->RetriesUsed(), 2u);

    // It queued itself again and waits for the owner.
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Standard().PendingCount(), 1u);
    EXPECT_EQ(fetch->Executions(), 3);

    ASSERT_TRUE(workflow->ResumeAfterError());
    ASSERT_TRUE(rootReports.WaitFor(2));
    EXPECT_EQ(rootReports.Reports().back().status.result, R::Success);
    EXPECT_EQ(fetch->Executions(), 4);
    EXPECT_EQ(retryableErrors.Count(), 1u);
    EXPECT_TRUE(workflow->IsFinished());
}

TEST_F(CompositeWorkTest, RestartedSequenceWhoseOnlyStepFailedRunsItAgain) {
    // The failed leaf is queued again by its own report, before its pool task has finished.
    auto step = Leaf("step", {R::Failure, R::Failure, R::Success});
    const WorkStatus status = RunToEnd(Compose<LimitedRetrySequentialWork>({step}, 5u), 4);
    EXPECT_EQ(status.result, R::Success);
    EXPECT_EQ(step->Executions(), 3);
    EXPECT_FALSE(step->RanConcurrently());
    EXPECT_EQ(retryableErrors.Count(), 0u);
}

TEST_F(CompositeWorkTest, LeafRetriesInPlaceWithinItsBudgetAndGetsItBackWhenQueuedAgain) {
    auto leaf = Leaf("leaf", {R::RetryableError, R::RetryableError, R::RetryableError, R::Success}, 2);
    struct RetryCounter : SimpleWorkRetryCallback {
        std::atomic<int> calls{0};
        void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus& status) override {
            if (status.retry) ++calls;
        }
    } retries;
    leaf->AddRetryCallback(&retries);
    MakeWorkflow(Compose({leaf}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(retryableErrors.WaitFor(1));
    EXPECT_EQ(leaf->Executions(), 3);
    EXPECT_EQ(retries.calls.load(), 2);
    ASSERT_TRUE(WaitUntilIdle());
    ASSERT_TRUE(workflow->ResumeAfterError());
    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::Success);
    EXPECT_EQ(leaf->Executions(), 4);
}

TEST_F(CompositeWorkTest, DeferredWorkNeverGivenAChildSucceedsThroughNoOpWork) {
    auto deferred = std::make_shared<DeferredWork>();
    auto after = Leaf("after");
    const WorkStatus status = RunToEnd(Compose({Leaf("before"), deferred, after}));
    EXPECT_EQ(status.result, R::Success);
    EXPECT_NE(std::dynamic_pointer_cast<NoOpWork>(deferred->GetWork()), nullptr);
    EXPECT_EQ(after->Executions(), 1);
    EXPECT_FALSE(deferred->SetWork(Leaf("late")));
}

TEST_F(CompositeWorkTest, DeferredChildSuppliedWhileTheTreeRunsIsAttachedAndRun) {
    auto before = Leaf("before");
    before->Hold();
    auto deferred = std::make_shared<DeferredWork>();
    MakeWorkflow(Compose({before, deferred}));
    ASSERT_TRUE(workflow->Start());
    ASSERT_TRUE(before->WaitForAttempts(1));

    auto supplied = Leaf("supplied", {R::FatalError});
    ASSERT_TRUE(deferred->SetWork(supplied));
    EXPECT_FALSE(deferred->SetWork(Leaf("second")));
    ASSERT_TRUE(supplied->IsAttached());
    EXPECT_EQ(supplied->CompleteCallbacks().front(), workflow.get());
    before->Release();

    ASSERT_TRUE(rootReports.WaitFor(1));
    EXPECT_EQ(rootReports.Reports().front().status.result, R::FatalError);
    EXPECT_EQ(DataMessage(rootReports.Reports().front().status), "supplied failed");
    EXPECT_TRUE(workflow->IsFinished());
}

TEST_F(CompositeWorkTest, EmptySequenceAndEmptyParallelSucceed) {
    auto after = Leaf("after");
    auto tree = Compose({std::make_shared<SequentialWork>(), std::make_shared<ParallelWork>(), after});
    EXPECT_EQ(RunToEnd(tree).result, R::Success);
    EXPECT_EQ(after->Executions(), 1);
}

TEST_F(CompositeWorkTest, EmptySequenceAsRootFinishesTheWorkflow) {
    EXPECT_EQ(RunToEnd(std::make_shared<SequentialWork>()).result, R::Success);
    EXPECT_TRUE(workflow->IsFinished());
    EXPECT_EQ(rootReports.Count(), 1u);
}

TEST_F(CompositeWorkTest, ConditionalTakesTheBranchTheConditionChose) {
    auto passing = Leaf("check"), onSuccess = Leaf("success"), onFailure = Leaf("failure");
    EXPECT_EQ(RunToEnd(std::make_shared<ConditionalWork>(passing, onSuccess, onFailure)).result, R::Success);
    EXPECT_EQ(onSuccess->Executions(), 1);
    EXPECT_EQ(onFailure->Attempts(), 0);
}

TEST_F(CompositeWorkTest, ConditionalRunsTheFailureBranchAndReportsItsResult) {
    auto failing = Leaf("check", {R::Failure}), onSuccess = Leaf("success"),
         onFailure = Leaf("failure", {R::Failure});
    const WorkStatus status = RunToEnd(std::make_shared<ConditionalWork>(failing, onSuccess, onFailure));
    EXPECT_EQ(status.result, R::Failure);
    EXPECT_EQ(onSuccess->Attempts(), 0);
    EXPECT_EQ(onFailure->Executions(), 1);
}

TEST_F(CompositeWorkTest, ConditionalWithAMissingChildCannotBeQueued) {
    auto conditional = std::make_shared<ConditionalWork>(Leaf("check"), nullptr, Leaf("failure"));
    MakeWorkflow(conditional);
    try {
        conditional->QueueAvailableWork(workflow);
        FAIL() << "queued an incomplete conditional work";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "ConditionalWork::QueueAvailableWork called with incomplete children");
    }
    EXPECT_THROW(workflow->Start(), std::logic_error);
    EXPECT_EQ(workflow->GetState(), WorkflowState::NotStarted);
    EXPECT_EQ(Standard().PendingCount(), 0u);
}

TEST_F(CompositeWorkTest, GenericWorksDescribeThemselves) {
    ptree noOp, deferred, sequence;
    NoOpWork().Describe(noOp);
    DeferredWork().Describe(deferred);
    SequentialWork().Describe(sequence);
    EXPECT_EQ(noOp.get<std::string>("name"), "NoOpWork");
    EXPECT_EQ(deferred.get<std::string>("name"), "DeferredWork");
    EXPECT_TRUE(sequence.empty());
}

}  // namespace
}  // namespace qelt::test
