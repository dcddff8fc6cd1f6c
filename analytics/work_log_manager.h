#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/event_manager.h"
#include "base/clock.h"

namespace qelt {

class HttpSessionFactory;
class SharedFile;
class SharedFileFactory;

// Entry levels; an entry is written when its level shares a bit with the manager's mask. A work's level gets
// kLogImportant added when the work describes itself as important, so the levels in use are 1, 2, 4, 8, 18, 20
// and 24.
inline constexpr int kLogTransferEvent = 1;
inline constexpr int kLogWorkError = 2;
inline constexpr int kLogWorkRetry = 4;
inline constexpr int kLogWorkComplete = 8;
inline constexpr int kLogImportant = 16;

// The level of a work's completion: 24 (important), 8, 18 (important, with an error) or 2 (with an error). An
// error is a RetryableError or FatalError result.
int CompletionLogLevel(bool important, bool error);
// The level of an in-place retry: 20 (important) or 4.
int RetryLogLevel(bool important);

// "Log.%Y.%m.%d.%H.%M.%S.txt" for `time` in UTC, with "." and `counter` appended when it is not 0.
std::string LogFileName(std::chrono::system_clock::time_point time, unsigned counter);
// "[%Y-%m-%d %H:%M:%S] " for `time` in UTC.
std::string LogLinePrefix(std::chrono::system_clock::time_point time);

// The work log: JSON lines in a file under the user's temporary directory, written by the manager's own two
// threads. The file is created by the first entry that passes the mask (so a mask of 0 never creates one), named
// after the UTC time of its creation with a counter suffix when that name is taken, and kept open until the
// manager is destroyed. Logging never reports a failure: an entry that cannot be written is lost and the next one
// tries again.
//
// Destruction first runs every submitted entry. The file factory must outlive the manager.
class LogManager : public EventManager {
public:
    // `folder` is resolved against the temporary directory (an absolute folder is kept). `clock` stamps file
    // names and lines (in UTC). The session factory is not used; it is taken so every event manager is built from
    // the same services.
    LogManager(std::int32_t mask, std::string folder, SharedFileFactory* files,
               HttpSessionFactory* sessions = nullptr, CalendarClock clock = SystemCalendarClock());
    ~LogManager() override;

    // Appends the line prefix and `text` (one JSON text ending in a line feed) as one contiguous entry, under the
    // file mutex. Creates the file first when none is open. Every failure loses the entry quietly. An entry cut
    // short by a full disk is overwritten by the next one, padded with spaces before its line feed where it is
    // shorter than the fragment, so the file never holds a broken line between two entries.
    void Write(int level, const std::string& text);

    std::int32_t Mask() const { return mask_; }
    bool Passes(int level) const { return (level & mask_) != 0; }

private:
    std::shared_ptr<SharedFile> CreateFile();

    std::mutex fileMutex_;
    const std::int32_t mask_;
    const std::string folder_;
    const std::string temporaryDirectory_;
    SharedFileFactory* const files_;
    const CalendarClock clock_;
    std::shared_ptr<SharedFile> file_;
    // The end of the fragment a failed write left past the current position; 0 when there is none.
    std::uint64_t fragmentEnd_ = 0;
};

// The log manager as the observer the transfer works register: completions and in-place retries become entries
// ("event" = "OnWorkComplete" or "OnSimpleWorkRetry", "params" = the work's description with its status).
//
// The description is built by the callback itself, on the reporting thread, and only when the entry's level can
// pass the mask: a work's description reads the data it shares with the works after it (a chunk's view and
// progress), which is its own only until its parent hears of the report, and the log is heard before the parent.
// The entry is then completed and written on the manager's pool. Both callbacks never throw.
class WorkLogManager : public LogManager, public WorkCompleteCallback, public SimpleWorkRetryCallback {
public:
    using LogManager::LogManager;

    void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) override;
};

// Submits the log entry of a described work at the level that follows from its description ("important") and its
// status. `manager` must outlive the work (it does: the manager drains its pool before it goes).
class SetUpOnCompleteWork : public SimpleWork {
public:
    // `description` is what the work's DescribeWithStatus wrote for `status`.
    SetUpOnCompleteWork(LogManager* manager, const ptree& description, WorkStatus status);
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    LogManager* const manager_;
    const ptree description_;
    const WorkStatus status_;
};

class SetUpOnRetryWork : public SimpleWork {
public:
    SetUpOnRetryWork(LogManager* manager, const ptree& description, WorkStatus status);
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    LogManager* const manager_;
    const ptree description_;
    const WorkStatus status_;
};

}  // namespace qelt
