#pragma once

#include "analytics/work_log_manager.h"

namespace qelt {

// One log entry: its tree is written as one JSON line when its level passes the manager's mask. A tree that
// cannot be written as JSON ends the work with FatalError and a WorkExceptionData, and nothing is written.
class JsonLogEventWork : public TrackEventWork {
public:
    JsonLogEventWork(int level, LogManager* manager) : TrackEventWork(level), manager_(manager) {}
    WorkStatus ExecuteTask() override;

private:
    LogManager* const manager_;
};

// The work log with JSON entries, on two threads of its own.
class JsonWorkLogManager final : public WorkLogManager {
public:
    using WorkLogManager::WorkLogManager;
    ~JsonWorkLogManager() override;

    std::shared_ptr<TrackEventWork> CreateWork(int level) override;
};

}  // namespace qelt
