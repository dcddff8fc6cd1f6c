#pragma once

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

#include "work/workflow.h"

namespace qelt::test {

// A workflow that only records what it is told: by a pool task (reports, finished leaves, cancels) and by works
// queueing themselves. The futures become ready on the first finished leaf and the first cancel.
class RecordingWorkflow : public Workflow {
public:
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override { ++reports; }
    bool Start() override { return false; }
    bool Pause() override { return false; }
    bool Resume() override { return false; }
    bool ResumeAfterError() override { return false; }
    WorkflowState GetState() const override { return WorkflowState::Running; }
    bool IsStarted() const override { return true; }
    bool IsPaused() const override { return false; }
    bool IsErrorPaused() const override { return false; }
    bool IsFinished() const override { return false; }
    bool Cancel(const WorkStatus& status) override {
        std::lock_guard lock(mutex);
        cancels.push_back(status);
        if (cancels.size() == 1) cancelled.set_value();
        return true;
    }
    void AddRetryableErrorCallback(WorkflowRetryableErrorCallback*) override {}
    void Enqueue(std::shared_ptr<SimpleWork> work) override {
        std::lock_guard lock(mutex);
        queued.push_back(std::move(work));
    }
    void OnWorkFinished(std::shared_ptr<SimpleWork>, const WorkStatus& status) override {
        std::lock_guard lock(mutex);
        finished.push_back(status.result);
        if (finished.size() == 1) finishedOne.set_value();
    }
    std::mutex mutex;
    std::atomic<int> reports{0};
    std::vector<WorkStatus> cancels;
    std::vector<WorkResult> finished;
    std::vector<std::shared_ptr<SimpleWork>> queued;
    std::promise<void> cancelled, finishedOne;
};

}  // namespace qelt::test
