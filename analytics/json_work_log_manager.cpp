#include "analytics/json_work_log_manager.h"

#include "analytics/json_writer.h"

namespace qelt {

WorkStatus JsonLogEventWork::ExecuteTask() {
    if (!manager_->Passes(Channel())) return WorkStatus(WorkResult::Success);
    try {
        manager_->Write(Channel(), ToJsonText(Tree()));
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

JsonWorkLogManager::~JsonWorkLogManager() {
    Drain();
}

std::shared_ptr<TrackEventWork> JsonWorkLogManager::CreateWork(int level) {
    return std::make_shared<JsonLogEventWork>(level, this);
}

}  // namespace qelt
