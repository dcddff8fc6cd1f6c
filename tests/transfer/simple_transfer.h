#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/transfer.h"
#include "transfer/transfer_manager.h"

namespace qelt::test {

// A transfer without works, for tests of what holds transfers: Initialize, Start and Suspend move its state as a
// transfer's would, the other operations only answer the status.
class SimpleTransfer : public Transfer {
public:
    explicit SimpleTransfer(TransferParams params) : params_(std::move(params)) {}

    TransferStatus Initialize() override { return Move(TransferState::Initializing, TransferState::Initialized); }
    TransferStatus Start(const std::string& destPath) override {
        std::lock_guard lock(mutex_);
        if (state_ == TransferState::Initialized) params_.destPath = destPath;
        return MoveLocked(TransferState::Initialized, TransferState::Transferring);
    }
    // Calls onSuspend first, without the transfer's lock.
    TransferStatus Suspend() override {
        if (onSuspend) onSuspend();
        std::lock_guard lock(mutex_);
        ++suspendCalls;
        return MoveLocked(state_, IsInactive(state_) ? state_ : TransferState::Suspended);
    }
    TransferStatus Update() override {
        std::lock_guard lock(mutex_);
        return MoveLocked(state_, state_);
    }
    TransferStatus Cancel(bool) override { return Update(); }
    TransferStatus Pause() override { return Update(); }
    TransferStatus Resume() override { return Update(); }
    TransferStatus Retry() override { return Update(); }
    TransferStatus Restore() override { return Update(); }
    bool HasSufficientSpace(const std::string&) override { return true; }
    std::shared_ptr<TransferWorkInterface> GetWorkInterface() override { return nullptr; }
    std::string GetNodesJson() override { return "[]"; }

    TransferParams Params() {
        std::lock_guard lock(mutex_);
        return params_;
    }

    std::function<void()> onSuspend;
    int suspendCalls = 0;

private:
    TransferStatus Move(TransferState from, TransferState to) {
        std::lock_guard lock(mutex_);
        return MoveLocked(from, to);
    }
    TransferStatus MoveLocked(TransferState from, TransferState to) {
        if (state_ == from) state_ = to;
        TransferStatus status = FreshTransferStatus(params_.transferId, state_);
        status.packageId = params_.packageId;
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
        made.push_back(std::make_shared<SimpleTransfer>(params));
        return made.back();
    }

    std::vector<std::shared_ptr<SimpleTransfer>> made;
};

}  // namespace qelt::test
