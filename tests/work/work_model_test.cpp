#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "tests/work/recording_workflow.h"
#include "work/sequential_work.h"
#include "work/work.h"
#include "work/workflow.h"

namespace qelt {
namespace {

// A leaf that answers with a scripted sequence of results and consumes a retry budget.
class ScriptedWork : public SimpleWork {
public:
    ScriptedWork(std::vector<WorkResult> results, unsigned retryBudget)
        : results_(std::move(results)), retryBudget_(retryBudget) {}

    WorkStatus ExecuteTask() override {
        const auto result = results_[std::min(executions, results_.size() - 1)];
        ++executions;
        return WorkStatus(result, std::make_shared<WorkErrorData>("attempt " + std::to_string(executions)));
    }
    void Cancel() override {}
    bool CanRetry() override {
        ++retryQuestions;
        if (retryBudget_ == 0) return false;
        --retryBudget_;
        return true;
    }

    std::size_t executions = 0;
    int retryQuestions = 0;

private:
    std::vector<WorkResult> results_;
    unsigned retryBudget_;
};

struct RetryRecorder : SimpleWorkRetryCallback {
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork>, const WorkStatus& status) override {
        statuses.push_back(status);
    }
    std::vector<WorkStatus> statuses;
};

TEST(SimpleWorkRun, RetryBudgetBoundsExecutionsAndRetryNotifications) {
    for (unsigned budget : {0u, 1u, 3u}) {
        auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::RetryableError}, budget);
        RetryRecorder recorder;
        work->AddRetryCallback(&recorder);
        const auto status = work->Run();
        EXPECT_EQ(work->executions, budget + 1);
        ASSERT_EQ(recorder.statuses.size(), budget);
        for (const auto& retried : recorder.statuses) {
            EXPECT_TRUE(retried.retry);
            EXPECT_EQ(retried.result, WorkResult::RetryableError);
        }
        EXPECT_EQ(status.result, WorkResult::RetryableError);
        EXPECT_FALSE(status.retry);
        EXPECT_EQ(status.data->ToString(), "attempt " + std::to_string(budget + 1));
    }
}

TEST(SimpleWorkRun, RetryStopsAtTheFirstOtherResult) {
    auto work = std::make_shared<ScriptedWork>(
        std::vector{WorkResult::RetryableError, WorkResult::RetryableError, WorkResult::Success}, 5);
    const auto status = work->Run();
    EXPECT_EQ(status.result, WorkResult::Success);
    EXPECT_EQ(work->executions, 3u);
    EXPECT_EQ(work->retryQuestions, 2);
}

TEST(SimpleWorkRun, FailureAndFatalErrorAreNeverRetried) {
    for (auto result : {WorkResult::Failure, WorkResult::FatalError, WorkResult::Success}) {
        auto work = std::make_shared<ScriptedWork>(std::vector{result}, 5);
        const auto status = work->Run();
        EXPECT_EQ(status.result, result);
        EXPECT_FALSE(status.retry);
        EXPECT_EQ(work->executions, 1u);
        EXPECT_EQ(work->retryQuestions, 0) << "CanRetry is asked only after a RetryableError";
    }
}

TEST(SimpleWorkRun, CancelBeforeRunSkipsTheTaskUntilReset) {
    auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::Success}, 0);
    work->RequestCancel();
    const auto status = work->Run();
    EXPECT_EQ(status.result, WorkResult::Cancelled);
    EXPECT_EQ(status.data, nullptr);
    EXPECT_EQ(work->executions, 0u);

    work->Reset();
    EXPECT_EQ(work->Run().result, WorkResult::Success);
    EXPECT_EQ(work->executions, 1u);
}

// Cancelling from a retry observer lands between two attempts.
TEST(SimpleWorkRun, CancelBetweenInPlaceRetriesEndsTheLoop) {
    auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::RetryableError}, 10);
    struct Canceller : SimpleWorkRetryCallback {
        void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> w, const WorkStatus&) override { w->RequestCancel(); }
    } canceller;
    work->AddRetryCallback(&canceller);
    EXPECT_EQ(work->Run().result, WorkResult::Cancelled);
    EXPECT_EQ(work->executions, 1u);
}

TEST(WorkStatusDescribe, WithoutDataWritesResultAndRetryOnly) {
    ptree tree;
    WorkStatus(WorkResult::Success).Describe(tree);
    EXPECT_EQ(tree.get<std::string>("result"), "0");
    EXPECT_EQ(tree.get<std::string>("retry"), "false");
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree.count("data"), 0u);
    EXPECT_EQ(tree.front().first, "result") << "keys are written in order";
}

TEST(WorkStatusDescribe, WithErrorDataWritesTheMessage) {
    ptree tree;
    WorkStatus status(WorkResult::RetryableError, std::make_shared<WorkErrorData>("x"));
    status.retry = true;
    status.Describe(tree);
    EXPECT_EQ(tree.get<std::string>("result"), "3");
    EXPECT_EQ(tree.get<std::string>("retry"), "true");
    EXPECT_EQ(tree.get_child("data").get<std::string>("errorMessage"), "x");
    EXPECT_EQ(tree.get_child("data").size(), 1u);
}

std::shared_ptr<WorkExceptionData> Captured(auto&& thrower) {
    try {
        thrower();
    } catch (...) {
        return std::make_shared<WorkExceptionData>(std::current_exception());
    }
    return nullptr;
}

TEST(WorkExceptionDataTest, DescribesTheCapturedException) {
    auto data = Captured([] { throw std::runtime_error("disk on fire"); });
    ptree tree;
    data->Describe(tree);
    EXPECT_EQ(tree.get<std::string>("exception"), "std::runtime_error");
    EXPECT_EQ(tree.get<std::string>("what"), "disk on fire");
    EXPECT_EQ(data->ToString(), "std::runtime_error");
    EXPECT_THROW(data->Rethrow(), std::runtime_error);
}

TEST(WorkExceptionDataTest, NonStandardExceptionIsUnknown) {
    auto data = Captured([] { throw 42; });
    ptree tree;
    data->Describe(tree);
    EXPECT_EQ(tree.get<std::string>("exception"), "Unknown exception type");
    EXPECT_EQ(tree.count("what"), 0u);
    EXPECT_EQ(data->ToString(), "Unknown exception type");
}

TEST(WorkExceptionDataTest, WithoutExceptionDescribesTheLogicError) {
    WorkExceptionData empty(nullptr);
    try {
        empty.Rethrow();
        FAIL() << "Rethrow must throw";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "WorkExceptionData::Rethrow called with no exception_ptr");
    }
    ptree tree;
    empty.Describe(tree);
    EXPECT_EQ(tree.get<std::string>("exception"), "std::logic_error");
    EXPECT_EQ(tree.get<std::string>("what"), "WorkExceptionData::Rethrow called with no exception_ptr");
    EXPECT_EQ(empty.ToString(), "std::logic_error");
}

TEST(WorkDescribeWithStatus, AddsTheStatusUnderWorkStatus) {
    auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::Success}, 0);
    ptree tree;
    work->DescribeWithStatus(WorkStatus(WorkResult::Failure), tree);
    EXPECT_EQ(tree.get<std::string>("workStatus.result"), "1");
    EXPECT_EQ(tree.get<std::string>("workStatus.retry"), "false");
}

// Records the order in which observers hear a completion.
struct OrderRecorder : WorkCompleteCallback {
    OrderRecorder(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override { log.push_back(name); }
    std::vector<std::string>& log;
    std::string name;
};

using test::RecordingWorkflow;

TEST(WorkAttach, ReattachingReplacesTheWorkflowAtTheFront) {
    std::vector<std::string> log;
    OrderRecorder first(log, "first"), second(log, "second");
    auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::Success}, 0);
    work->AddCompleteCallback(&first);
    auto workflowA = std::make_shared<RecordingWorkflow>();
    auto workflowB = std::make_shared<RecordingWorkflow>();
    work->Attach(workflowA);
    work->AddCompleteCallback(&second);
    work->Attach(workflowB);

    ASSERT_EQ(work->CompleteCallbacks().size(), 3u);
    EXPECT_EQ(work->CompleteCallbacks().front(), workflowB.get());
    work->NotifyComplete(WorkStatus(WorkResult::Success));
    EXPECT_EQ(workflowA->reports.load(), 0);
    EXPECT_EQ(workflowB->reports.load(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
}

TEST(WorkAttach, ReattachingKeepsTheParentAtTheBackAndObserversBetween) {
    std::vector<std::string> log;
    OrderRecorder observer(log, "observer");
    auto child = std::make_shared<ScriptedWork>(std::vector{WorkResult::Success}, 0);
    auto parent = std::make_shared<SequentialWork>();
    parent->AddWork(child);
    child->AddCompleteCallback(&observer);
    auto workflowA = std::make_shared<RecordingWorkflow>();
    auto workflowB = std::make_shared<RecordingWorkflow>();
    child->Attach(workflowA);
    child->Attach(workflowB);

    const auto& callbacks = child->CompleteCallbacks();
    ASSERT_EQ(callbacks.size(), 3u);
    EXPECT_EQ(callbacks[0], workflowB.get());
    EXPECT_EQ(callbacks[1], &observer);
    EXPECT_EQ(callbacks[2], static_cast<WorkCompleteCallback*>(parent.get()));
    EXPECT_TRUE(child->IsAttached());
    EXPECT_TRUE(child->HasParent());
}

TEST(WorkAttach, SimpleWorkQueuesItself) {
    auto work = std::make_shared<ScriptedWork>(std::vector{WorkResult::Success}, 0);
    auto workflow = std::make_shared<RecordingWorkflow>();
    work->QueueAvailableWork(workflow);
    ASSERT_EQ(workflow->queued.size(), 1u);
    EXPECT_EQ(workflow->queued.front(), work);
}

}  // namespace
}  // namespace qelt
