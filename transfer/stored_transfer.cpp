#include "transfer/stored_transfer.h"

namespace qelt {

StoredTransfer::StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                               TransferWorkflowFactory* workflowFactory, ManifestStore<TransferManifest>* store)
    : StandardTransfer(params, behavior, workflowFactory), store_(store) {}

StoredTransfer::~StoredTransfer() {
    DisconnectWorks();
}

TransferStatus StoredTransfer::Start(const std::string& destPath) {
    return Guarded([&](Lock& lock) {
        TransferStatus status = DoStart(lock, destPath);
        if (!EmittedEvent(lock)) return status;
        // Saved under the lock again, so that a Cancel that came in between, and has found no record to remove,
        // is not followed by a record of a cancelled transfer.
        lock.lock();
        if (GetStatus(lock).state != TransferState::Cancelled) {
            TransferManifest record;
            record.params = Data().params;
            record.params.suspended = false;
            store_->Save(record.params.transferId, record);
        }
        return status;
    });
}

TransferStatus StoredTransfer::Cancel(bool discardFiles) {
    return Guarded([&](Lock& lock) {
        TransferStatus status = DoCancel(lock, discardFiles);
        if (status.state != TransferState::Suspended || status.error != TransferError::None)
            store_->Remove(status.transferId);
        return status;
    });
}

StoredTransferFactory::StoredTransferFactory(ManifestStore<TransferManifest>* store,
                                             TransferWorkflowFactory* workflowFactory)
    : store_(store), workflowFactory_(workflowFactory) {}

std::shared_ptr<Transfer> StoredTransferFactory::CreateTransfer(const TransferParams& params,
                                                                const TransferBehavior& behavior) {
    return std::make_shared<StoredTransfer>(params, behavior, workflowFactory_, store_);
}

}  // namespace qelt
