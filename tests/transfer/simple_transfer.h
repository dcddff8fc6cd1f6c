#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/transfer.h"
#include "transfer/transfer_manager.h"

namespace qelt::test {

// A transfer without works: the states move as the operations say and nothing is downloaded. For tests of what
// holds transfers (managers, services, monitors) where the state machine itself is not under test.
class SimpleTransfer : public Transfer {
public:
    explicit SimpleTransfer(TransferParams params) : params_(std::move(params)) {}

    TransferStatus Initialize() override {
        return Change(TransferState::Initializing, TransferState::Initialized);
    }
    TransferStatus Start(const std::string& destPath) override {
        std::lock_guard lock(mutex_);
        if (state_ == TransferState::Initialized) {
            params_.destPath = destPath;
            state_ = TransferState::Transferring;
        }
        return StatusLocked();
    }
    bool HasSufficientSpace(const std::string&) override { return true; }
    TransferStatus Update() override {
        std::lock_guard lock(mutex_);
        return StatusLocked();
    }
    TransferStatus Cancel(bool) override {
        std::lock_guard lock(mutex_);
        if (!IsInactive(state_)) state_ = TransferState::Cancelled;
        return StatusLocked();
    }
    TransferStatus Pause() override {
        return Change(TransferState::Transferring, TransferState::TransferringPaused);
    }
    TransferStatus Resume() override {
        return Change(TransferState::TransferringPaused, TransferState::Transferring);
    }
    TransferStatus Retry() override { return Update(); }
    // Calls onSuspend first, without the transfer's lock.
    TransferStatus Suspend() override {
        if (onSuspend) onSuspend();
        std::lock_guard lock(mutex_);
        ++suspendCalls;
        if (!IsInactive(state_)) state_ = TransferState::Suspended;
        return StatusLocked();
    }
    TransferStatus Restore() override { return Change(TransferState::Suspended, TransferState::Initializing); }
    std::shared_ptr<TransferWorkInterface> GetWorkInterface() override { return nullptr; }
    std::string GetNodesJson() override { return "[]"; }

    TransferParams Params() {
        std::lock_guard lock(mutex_);
        return params_;
    }

    std::function<void()> onSuspend;
    int suspendCalls = 0;

private:
    TransferStatus Change(TransferState from, TransferState to) {
        std::lock_guard lock(mutex_);
        if (state_ == from) state_ = to;
        return StatusLocked();
    }
    TransferStatus StatusLocked() const {
        TransferStatus status = FreshTransferStatus(params_.transferId, state_);
        status.partnerId = params_.partnerId;
        status.packageId = params_.packageId;
        status.versionId = params_.versionId;
        status.destPath = params_.destPath;
        return status;
    }

    std::mutex mutex_;
    TransferParams params_;
    TransferState state_ = TransferState::Initializing;
};

// Makes SimpleTransfers and keeps each one it made.
class SimpleTransferFactory : public TransferFactory {
public:
    std::shared_ptr<Transfer> CreateTransfer(const TransferParams& params, const TransferBehavior&) override {
        auto transfer = std::make_shared<SimpleTransfer>(params);
        std::lock_guard lock(mutex_);
        made.push_back(transfer);
        return transfer;
    }

    std::mutex mutex_;
    std::vector<std::shared_ptr<SimpleTransfer>> made;
};

}  // namespace qelt::test
