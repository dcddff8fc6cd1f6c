#include "tests/work/scripted_work.h"

namespace qelt::test {

void ExecutionLog::Add(const std::string& name) {
    std::lock_guard lock(mutex_);
    names_.push_back(name);
}

std::vector<std::string> ExecutionLog::Names() const {
    std::lock_guard lock(mutex_);
    return names_;
}

ScriptedWork::ScriptedWork(std::string name, std::vector<WorkResult> script, unsigned maxRetries,
                           ExecutionLog* log)
    : LimitedRetrySimpleWork(maxRetries), name_(std::move(name)), script_(std::move(script)), log_(log) {}

WorkStatus ScriptedWork::ExecuteTask() {
    if (inAttempt_.exchange(true)) ranConcurrently_ = true;
    struct LeaveAttempt {
        std::atomic<bool>& flag;
        ~LeaveAttempt() { flag = false; }
    } leave{inAttempt_};

    if (log_) log_->Add(name_);
    {
        std::unique_lock lock(mutex_);
        cancelled_ = interruptible_ && IsCancelRequested();
        ++attempts_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_ || cancelled_; });
        if (cancelled_) return WorkStatus(WorkResult::Cancelled);
    }
    const int index = executions_++;
    const WorkResult result = script_[std::min<std::size_t>(index, script_.size() - 1)];
    if (result == WorkResult::Success) return WorkStatus(result);
    return WorkStatus(result, std::make_shared<WorkErrorData>(name_ + " failed"));
}

void ScriptedWork::Cancel() {
    ++cancelHookCalls_;
    if (!interruptible_) return;
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void ScriptedWork::Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void ScriptedWork::Release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
}

bool ScriptedWork::WaitForAttempts(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return attempts_.load() >= count; });
}

}  // namespace qelt::test
