#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/transfer_monitor.h"

namespace qelt::test {

// One report of the monitor: which callback, with the status it carried.
struct MonitorReport {
    std::string kind;  // "progress", "ready", "error" or "complete"
    TransferStatus status;
};

// Records every report with the thread it came on. onReady, when set, runs inside OnTransferReady, as the dialog
// starts a transfer there.
class RecordingMonitorCallback : public TransferMonitorCallback {
public:
    void OnTransferProgress(const TransferStatus& status) override { Add("progress", status); }
    void OnTransferReady(const TransferStatus& status) override {
        Add("ready", status);
        if (onReady) onReady(status);
    }
    void OnTransferError(const TransferStatus& status) override { Add("error", status); }
    void OnTransferComplete(const TransferStatus& status) override { Add("complete", status); }

    // Until a report of that kind for that transfer has come; false on timeout.
    bool WaitFor(const std::string& kind, const std::string& transferId,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const auto& report : reports_)
                if (report.kind == kind && report.status.transferId == transferId) return true;
            return false;
        });
    }
    std::vector<MonitorReport> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    // "kind id" of every report, in order.
    std::vector<std::string> Kinds() {
        std::vector<std::string> kinds;
        for (const auto& report : Reports())
            kinds.push_back(report.kind + " " + report.status.transferId);
        return kinds;
    }
    std::set<std::thread::id> Threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

    std::function<void(const TransferStatus&)> onReady;

private:
    void Add(const char* kind, const TransferStatus& status) {
        std::lock_guard lock(mutex_);
        reports_.push_back({kind, status});
        threads_.insert(std::this_thread::get_id());
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<MonitorReport> reports_;
    std::set<std::thread::id> threads_;
};

}  // namespace qelt::test
