#include "transfer/transfer_manager.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <vector>

namespace qelt {
namespace {

constexpr std::size_t kInitialBuckets = 11;

}  // namespace

std::string NewTransferId() {
    boost::uuids::random_generator generator;
    std::string text = boost::uuids::to_string(generator());
    std::erase(text, '-');
    return text;
}

OfflineTransferManager::OfflineTransferManager(TransferFactory* factory)
    : factory_(factory), transfers_(kInitialBuckets) {
    transfers_.max_load_factor(1.0f);
}

std::shared_ptr<Transfer> OfflineTransferManager::CreateTransfer(const TransferParams& params,
                                                                 const TransferBehavior& behavior) {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return nullptr;
    for (;;) {
        TransferParams copy = params;
        copy.transferId = NewTransferId();
        // Ids are 122 random bits, so a collision is a matter of principle; it is met by drawing again before a
        // transfer is made for the taken id.
        if (transfers_.contains(copy.transferId)) continue;
        std::shared_ptr<Transfer> transfer = factory_->CreateTransfer(copy, behavior);
        if (!transfer) return nullptr;
        transfers_.emplace(copy.transferId, transfer);
        return transfer;
    }
}

std::shared_ptr<Transfer> OfflineTransferManager::FindTransfer(const std::string& transferId,
                                                               const TransferBehavior&) {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return nullptr;
    const auto found = transfers_.find(transferId);
    return found == transfers_.end() ? nullptr : found->second;
}

void OfflineTransferManager::Shutdown() {
    std::vector<std::shared_ptr<Transfer>> transfers;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
        transfers.reserve(transfers_.size());
        for (const auto& entry : transfers_)
            transfers.push_back(entry.second);
    }
    for (const auto& transfer : transfers) {
        try {
            transfer->Suspend();
        } catch (...) {
            // Transfer operations do not throw; one that does must not keep the others running.
        }
    }
}

TempFileTransferManager::TempFileTransferManager(ManifestStore<TransferManifest>* store, TransferFactory* factory)
    : OfflineTransferManager(factory), store_(store) {}

std::shared_ptr<Transfer> TempFileTransferManager::FindTransfer(const std::string& transferId,
                                                                const TransferBehavior& behavior) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Transfer> transfer = OfflineTransferManager::FindTransfer(transferId, behavior);
    if (transfer || shuttingDown_) return transfer;
    TransferManifest manifest;
    // A record stored under another name than its own id is not this transfer's.
    if (!store_->Load(transferId, manifest) || manifest.params.transferId != transferId) return nullptr;
    transfer = factory_->CreateTransfer(manifest.params, behavior);
    if (transfer) transfers_.emplace(transferId, transfer);
    return transfer;
}

}  // namespace qelt
