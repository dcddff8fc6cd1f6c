#include "app/transfer_monitor.h"

#include <chrono>
#include <utility>
#include <vector>

namespace qelt {

TransferMonitorImpl::TransferMonitorImpl(TransferStatusSource& source, MillisecondClock clock)
    : source_(source), clock_(std::move(clock)) {}

TransferMonitorImpl::~TransferMonitorImpl() {
    Stop();
    // Stop leaves the thread to itself when it is called from a callback.
    if (thread_.joinable()) thread_.join();
}

void TransferMonitorImpl::Start() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_) return;
    thread_ = std::thread([this] { Run(); });
}

void TransferMonitorImpl::Register(const std::string& transferId, TransferMonitorCallback* callback) {
    std::lock_guard lock(mutex_);
    watched_.emplace(transferId, callback);
}

void TransferMonitorImpl::Unregister(const std::string& transferId) {
    std::lock_guard lock(mutex_);
    watched_.erase(transferId);
}

void TransferMonitorImpl::Stop() {
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wakeUp_.notify_all();
        if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) return;
        thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
}

void TransferMonitorImpl::Run() {
    std::unique_lock lock(mutex_);
    while (WaitForRound(lock)) {
        lock.unlock();
        PollRound();
        lock.lock();
    }
}

bool TransferMonitorImpl::WaitForRound(std::unique_lock<std::mutex>& lock) {
    const std::uint32_t start = clock_();
    const std::uint32_t due = pollIntervalMs_ * 9 / 10;
    for (;;) {
        if (stopping_) return false;
        const std::uint32_t elapsed = clock_() - start;
        if (elapsed >= due) return true;
        wakeUp_.wait_for(lock, std::chrono::milliseconds(pollIntervalMs_ - elapsed));
    }
}

void TransferMonitorImpl::PollRound() {
    try {
        std::vector<std::pair<std::string, TransferMonitorCallback*>> round;
        {
            std::lock_guard lock(mutex_);
            round.assign(watched_.begin(), watched_.end());
        }
        for (const auto& [transferId, callback] : round) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
            }
            Report(transferId, callback, source_.GetTransferStatus(transferId));
        }
    } catch (...) {
        // A round that fails ends quietly; the next one starts after the next wait.
    }
}

void TransferMonitorImpl::Report(const std::string& transferId, TransferMonitorCallback* callback,
                                 const TransferStatus& status) {
    const bool error = status.error != TransferError::None;
    const TransferState state = status.state;
    if (IsInactive(state) || (error && !status.errorRetryable)) {
        Unregister(transferId);
        callback->OnTransferComplete(status);
    } else if (state != TransferState::Initialized) {
        if (error) {
            Unregister(transferId);
            callback->OnTransferError(status);
        } else {
            callback->OnTransferProgress(status);
        }
    } else {
        Unregister(transferId);
        callback->OnTransferReady(status);
        if (error) callback->OnTransferError(status);
    }
}

}  // namespace qelt
