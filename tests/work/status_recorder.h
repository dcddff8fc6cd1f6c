#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "work/workflow.h"

namespace qelt::test {

// Records every completion report of the works it observes, and every retryable error a workflow raises.
class StatusRecorder : public WorkCompleteCallback, public WorkflowRetryableErrorCallback {
public:
    struct Report {
        std::shared_ptr<Work> work;
        WorkStatus status;
    };

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override {
        std::lock_guard lock(mutex_);
        reports_.push_back({std::move(work), status});
        changed_.notify_all();
    }

    void OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override {
        OnWorkComplete(std::move(work), status);
    }

    std::vector<Report> Reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }

    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return reports_.size();
    }

    // Waits until at least `count` reports arrived; false on timeout.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return reports_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Report> reports_;
};

}  // namespace qelt::test
