#include "analytics/work_log_manager.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <limits>

#include "app/paths.h"
#include "base/path_rule.h"
#include "storage/file_exception.h"
#include "storage/shared_file.h"

namespace qelt {
namespace {

constexpr unsigned kLogThreads = 2;
// A folder where this many names of one second are all taken (or keep failing as "in use") is not worth more
// attempts; the entry is lost and the next one tries again.
constexpr unsigned kMaxFileNameCounter = 1000;

struct CalendarFields {
    int year;
    unsigned month, day;
    long hours, minutes, seconds;
};

CalendarFields ToUtcFields(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss<seconds> clock(floor<seconds>(time - day));
    return {static_cast<int>(date.year()),
            static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()),
            static_cast<long>(clock.hours().count()),
            static_cast<long>(clock.minutes().count()),
            static_cast<long>(clock.seconds().count())};
}

bool IsError(WorkResult result) {
    return result == WorkResult::RetryableError || result == WorkResult::FatalError;
}

// Submits the entry of a described work at the level `levelOf(important, status)`.
template <typename LevelOf>
WorkStatus SubmitWorkEntry(LogManager* manager, const ptree& description, const WorkStatus& status,
                           const char* event, LevelOf levelOf) {
    try {
        const bool important = description.get("important", false);
        auto entry = manager->CreateWork(levelOf(important, status));
        entry->Tree().put("event", event);
        entry->Tree().add_child("params", description);
        manager->Submit(std::move(entry));
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

ptree DescribeWithStatus(const Work& work, const WorkStatus& status) {
    ptree description;
    work.DescribeWithStatus(status, description);
    return description;
}

}  // namespace

int CompletionLogLevel(bool important, bool error) {
    return 24 - (important ? 0 : kLogImportant) - (error ? 6 : 0);
}

int RetryLogLevel(bool important) {
    return important ? kLogImportant | kLogWorkRetry : kLogWorkRetry;
}

std::string LogFileName(std::chrono::system_clock::time_point time, unsigned counter) {
    const CalendarFields f = ToUtcFields(time);
    char name[64];
    std::snprintf(name, sizeof name, "Log.%04d.%02u.%02u.%02ld.%02ld.%02ld.txt", f.year, f.month, f.day, f.hours,
                  f.minutes, f.seconds);
    std::string result = name;
    if (counter != 0) result += "." + std::to_string(counter);
    return result;
}

std::string LogLinePrefix(std::chrono::system_clock::time_point time) {
    const CalendarFields f = ToUtcFields(time);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[%04d-%02u-%02u %02ld:%02ld:%02ld] ", f.year, f.month, f.day, f.hours,
                  f.minutes, f.seconds);
    return prefix;
}

LogManager::LogManager(std::int32_t mask, std::string folder, SharedFileFactory* files, HttpSessionFactory*,
                       CalendarClock clock)
    : EventManager(kLogThreads),
      mask_(mask),
      folder_(std::move(folder)),
      temporaryDirectory_(UserTemporaryDirectory()),
      files_(files),
      clock_(std::move(clock)) {}

LogManager::~LogManager() {
    Drain();
}

std::shared_ptr<SharedFile> LogManager::CreateFile() {
    for (unsigned counter = 0;; ++counter) {
        const std::string path = ResolvePath(folder_, LogFileName(clock_(), counter));
        try {
            return files_->Open(temporaryDirectory_, path, SharedFileMode::CreateNew, 0, kUnboundedUpperBound);
        } catch (const FileInUseException&) {
            if (counter + 1 >= kMaxFileNameCounter) throw;
        }
    }
}

void LogManager::Write(int level, const std::string& text) {
    if (!Passes(level)) return;
    std::lock_guard<std::mutex> lock(fileMutex_);
    try {
        if (!file_) file_ = CreateFile();
        std::string line = LogLinePrefix(clock_()) + text;
        const std::uint64_t start = file_->Tell();
        if (fragmentEnd_ > start + line.size()) {
            // Trailing spaces keep the line one JSON text while covering the rest of the fragment.
            const std::size_t at = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
            line.insert(at, fragmentEnd_ - start - line.size(), ' ');
        }
        if (line.size() > std::numeric_limits<std::uint32_t>::max()) return;
        // One write per entry keeps the prefix and the text together.
        try {
            file_->Write(line.data(), static_cast<std::uint32_t>(line.size()));
        } catch (...) {
            // Part of the entry may be on disk (a full disk). Go back to where it began, so the next entry
            // overwrites the fragment instead of continuing the log from inside a broken line.
            try {
                fragmentEnd_ = std::max(fragmentEnd_, file_->GetSize());
            } catch (...) {
            }
            file_->Seek(start);
            throw;
        }
        fragmentEnd_ = 0;
    } catch (...) {
        // The entry is lost; a file that failed to open stays unopened and the next entry tries again.
    }
}

void WorkLogManager::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    const bool error = IsError(status.result);
    if (!Passes(CompletionLogLevel(true, error)) && !Passes(CompletionLogLevel(false, error))) return;
    try {
        auto setUp = std::make_shared<SetUpOnCompleteWork>(this, DescribeWithStatus(*work, status), status);
        setUp->Reset();
        Pool().PostWork(std::move(setUp));
    } catch (...) {
        // Runs on a transfer's pool thread inside its completion: logging must not fail the transfer.
    }
}

void WorkLogManager::OnSimpleWorkRetry(std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    if (!Passes(RetryLogLevel(true)) && !Passes(RetryLogLevel(false))) return;
    try {
        auto setUp = std::make_shared<SetUpOnRetryWork>(this, DescribeWithStatus(*work, status), status);
        setUp->Reset();
        Pool().PostWork(std::move(setUp));
    } catch (...) {
    }
}

SetUpOnCompleteWork::SetUpOnCompleteWork(LogManager* manager, const ptree& description, WorkStatus status)
    : manager_(manager), description_(description), status_(std::move(status)) {}

WorkStatus SetUpOnCompleteWork::ExecuteTask() {
    return SubmitWorkEntry(
        manager_, description_, status_, "OnWorkComplete",
        [](bool important, const WorkStatus& s) { return CompletionLogLevel(important, IsError(s.result)); });
}

SetUpOnRetryWork::SetUpOnRetryWork(LogManager* manager, const ptree& description, WorkStatus status)
    : manager_(manager), description_(description), status_(std::move(status)) {}

WorkStatus SetUpOnRetryWork::ExecuteTask() {
    return SubmitWorkEntry(manager_, description_, status_, "OnSimpleWorkRetry",
                           [](bool important, const WorkStatus&) { return RetryLogLevel(important); });
}

}  // namespace qelt
