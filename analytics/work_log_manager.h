#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/event_manager.h"

namespace qelt {

class SharedFile;
class SharedFileFactory;

// The work log: JSON lines in a file created lazily under the temporary directory, written by the manager's own
// pool. `mask` selects the entry levels written (an entry is written when its level shares a bit with it).
class LogManager : public EventManager {
public:
    LogManager(std::int32_t mask, std::string folder, SharedFileFactory* files);

    // Appends one line (time prefix, then `text`) under the file mutex; every failure loses the entry quietly.
    void Write(int level, const std::string& text);
    std::int32_t Mask() const { return mask_; }

private:
    std::mutex fileMutex_;
    std::int32_t mask_;
    std::string folder_;
    SharedFileFactory* files_;
    std::shared_ptr<SharedFile> file_;
};

// The log manager as the observer transfer works register: completions and in-place retries become log entries
// built on the manager's pool. Both callbacks only post a work and return at once.
class WorkLogManager : public LogManager, public WorkCompleteCallback, public SimpleWorkRetryCallback {
public:
    using LogManager::LogManager;

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;
};

}  // namespace qelt
