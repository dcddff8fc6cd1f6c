#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "work/limited_retry_simple_work.h"

namespace qelt::test {

// The names of the works whose attempts started, in order.
class ExecutionLog {
public:
    void Add(const std::string& name);
    std::vector<std::string> Names() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
};

// A leaf whose attempts follow a script of results: attempt i (counted over the work's whole life, across resets)
// reports script[i], the last entry repeating. Non-success results carry a WorkErrorData "<name> failed".
// When held, each attempt first waits until released; a cancel while waiting ends the attempt with Cancelled
// without using a script entry, as an interrupted request would.
class ScriptedWork : public LimitedRetrySimpleWork {
public:
    explicit ScriptedWork(std::string name, std::vector<WorkResult> script = {WorkResult::Success},
                          unsigned maxRetries = 0, ExecutionLog* log = nullptr);

    WorkStatus ExecuteTask() override;
    void Cancel() override;

    // Attempts wait from now on until Release.
    void Hold();
    void Release();
    // A work that is not interruptible finishes a held attempt only when released, as a request whose Cancel
    // does nothing would.
    void SetInterruptible(bool interruptible) { interruptible_ = interruptible; }
    // Waits until `count` attempts are in progress or done; false on timeout.
    bool WaitForAttempts(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    const std::string& Name() const { return name_; }
    // Attempts that started (also those then cancelled while held).
    int Attempts() const { return attempts_.load(); }
    // Attempts that consumed a script entry.
    int Executions() const { return executions_.load(); }
    int CancelHookCalls() const { return cancelHookCalls_.load(); }
    // True if two attempts of this work ever overlapped.
    bool RanConcurrently() const { return ranConcurrently_.load(); }

private:
    const std::string name_;
    const std::vector<WorkResult> script_;
    ExecutionLog* const log_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    std::atomic<bool> interruptible_{true};
    bool cancelled_ = false;
    std::atomic<int> attempts_{0};
    std::atomic<int> executions_{0};
    std::atomic<int> cancelHookCalls_{0};
    std::atomic<bool> inAttempt_{false};
    std::atomic<bool> ranConcurrently_{false};
};

}  // namespace qelt::test
