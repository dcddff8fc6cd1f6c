#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

#include "tests/work/scripted_work.h"
#include "tests/work/status_recorder.h"
#include "work/asio_work_manager.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"
#include "work/standard_workflow.h"

namespace qelt::test {

// An observer that runs a function on each report.
class CompletionProbe : public WorkCompleteCallback {
public:
    explicit CompletionProbe(std::function<void(const std::shared_ptr<Work>&, const WorkStatus&)> onReport)
        : onReport_(std::move(onReport)) {}
    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override { onReport_(work, status); }

private:
    std::function<void(const std::shared_ptr<Work>&, const WorkStatus&)> onReport_;
};

inline std::shared_ptr<ScriptedWork> Leaf(std::string name, std::vector<WorkResult> script = {WorkResult::Success},
                                          unsigned maxRetries = 0, ExecutionLog* log = nullptr) {
    return std::make_shared<ScriptedWork>(std::move(name), std::move(script), maxRetries, log);
}

template <typename Composite = SequentialWork, typename... Args>
std::shared_ptr<Composite> Compose(std::initializer_list<std::shared_ptr<Work>> children, Args... args) {
    auto composite = std::make_shared<Composite>(args...);
    for (const auto& child : children)
        composite->AddWork(child);
    return composite;
}

// A real pool and a workflow over one tree, with recorders for the root's reports and the retryable errors.
// The recorders are declared before the pool so that they outlive its threads.
class WorkflowFixture : public ::testing::Test {
protected:
    std::shared_ptr<Workflow> MakeWorkflow(const std::shared_ptr<Work>& root, unsigned maxInFlight = 4) {
        root->AddCompleteCallback(&rootReports);
        workflow = StandardWorkflow::Create(root, &manager, maxInFlight);
        workflow->AddRetryableErrorCallback(&retryableErrors);
        return workflow;
    }

    // Starts a workflow over `root` and waits for the root's first report.
    WorkStatus RunToEnd(const std::shared_ptr<Work>& root, unsigned maxInFlight = 4) {
        MakeWorkflow(root, maxInFlight);
        EXPECT_TRUE(workflow->Start());
        if (!rootReports.WaitFor(1)) {
            ADD_FAILURE() << "the root never reported";
            return WorkStatus(WorkResult::FatalError);
        }
        return rootReports.Reports().front().status;
    }

    StandardWorkflow& Standard() { return static_cast<StandardWorkflow&>(*workflow); }

    // Waits until the workflow has no leaf in flight; false on timeout.
    bool WaitUntilIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Standard().RunningCount() != 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    StatusRecorder rootReports;
    StatusRecorder retryableErrors;
    StatusRecorder childReports;
    AsioWorkManager manager{4};
    std::shared_ptr<Workflow> workflow;
};

inline std::string DataMessage(const WorkStatus& status) {
    auto error = std::dynamic_pointer_cast<WorkErrorData>(status.data);
    return error ? error->Message() : std::string();
}

}  // namespace qelt::test
