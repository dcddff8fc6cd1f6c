#pragma once

#include <memory>
#include <string>

#include "transfer/manifest_store.h"
#include "transfer/standard_transfer.h"
#include "transfer/transfer_manager.h"
#include "transfer/transfer_manifest.h"

namespace qelt {

class TransferWorkflowFactory;

// A transfer that keeps its record in a store while it may be continued: saved under its id when Start
// succeeds, removed when Cancel leaves it anywhere but Suspended without error. Completion and suspension leave
// the record alone. A record that cannot be saved or removed does not change what the operation answers.
class StoredTransfer : public StandardTransfer {
public:
    // Neither `store` nor `workflowFactory` is owned; both must outlive the transfer.
    StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                   TransferWorkflowFactory* workflowFactory, ManifestStore<TransferManifest>* store);
    ~StoredTransfer() override;

    TransferStatus Start(const std::string& destPath) override;
    TransferStatus Cancel(bool discardFiles) override;

private:
    ManifestStore<TransferManifest>* const store_;
};

// Makes StoredTransfers bound to one store.
class StoredTransferFactory : public TransferFactory {
public:
    // Neither is owned; both must outlive the factory and every transfer it makes.
    StoredTransferFactory(ManifestStore<TransferManifest>* store, TransferWorkflowFactory* workflowFactory);

    std::shared_ptr<Transfer> CreateTransfer(const TransferParams& params,
                                             const TransferBehavior& behavior) override;

private:
    ManifestStore<TransferManifest>* const store_;
    TransferWorkflowFactory* const workflowFactory_;
};

}  // namespace qelt
