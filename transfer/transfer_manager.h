#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "transfer/manifest_store.h"
#include "transfer/transfer.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_manifest.h"
#include "transfer/transfer_params.h"

namespace qelt {

// Makes the transfers a manager registers.
class TransferFactory {
public:
    TransferFactory() = default;
    TransferFactory(const TransferFactory&) = delete;
    TransferFactory& operator=(const TransferFactory&) = delete;
    virtual ~TransferFactory() = default;

    // A new transfer for `params` (whose transferId is already set), not yet initialised.
    virtual std::shared_ptr<Transfer> CreateTransfer(const TransferParams& params,
                                                     const TransferBehavior& behavior) = 0;
};

// The registry of the transfers of this run. Every operation may be called from any thread.
class TransferManager {
public:
    TransferManager() = default;
    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;
    virtual ~TransferManager() = default;

    // A new transfer with `params` under a fresh id, registered and not yet initialised; null after Shutdown or
    // when the factory makes none. Exceptions of the factory pass through.
    virtual std::shared_ptr<Transfer> CreateTransfer(const TransferParams& params,
                                                     const TransferBehavior& behavior) = 0;
    // The registered transfer of that id, or null (always null after Shutdown).
    virtual std::shared_ptr<Transfer> FindTransfer(const std::string& transferId,
                                                   const TransferBehavior& behavior) = 0;
    // Suspends every registered transfer; afterwards the manager hands out no transfer.
    virtual void Shutdown() = 0;
};

// A fresh transfer id: a random (version 4) UUID as 32 lower-case hexadecimal digits, without its dashes.
std::string NewTransferId();

// Knows the transfers created in this run only.
class OfflineTransferManager : public TransferManager {
public:
    // `factory` is not owned and must outlive the manager.
    explicit OfflineTransferManager(TransferFactory* factory);

    std::shared_ptr<Transfer> CreateTransfer(const TransferParams& params,
                                             const TransferBehavior& behavior) override;
    std::shared_ptr<Transfer> FindTransfer(const std::string& transferId,
                                           const TransferBehavior& behavior) override;
    // Sets the flag under the mutex, then suspends the transfers without holding it: a transfer's Suspend takes
    // the transfer's lock and fires events, and whoever holds that lock may be waiting for this mutex.
    void Shutdown() override;

protected:
    TransferFactory* const factory_;
    std::recursive_mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<Transfer>> transfers_;
    bool shuttingDown_ = false;
};

// Also brings back a transfer of an earlier run from its stored record.
class TempFileTransferManager : public OfflineTransferManager {
public:
    // Neither is owned; both must outlive the manager.
    TempFileTransferManager(ManifestStore<TransferManifest>* store, TransferFactory* factory);

    // A transfer of this run, else one made from the record stored under `transferId` when that record names
    // exactly this id (a record is read only when it is asked for). A restored transfer starts afresh: it still
    // has to be initialised, and its record's destination is kept.
    std::shared_ptr<Transfer> FindTransfer(const std::string& transferId,
                                           const TransferBehavior& behavior) override;

private:
    ManifestStore<TransferManifest>* const store_;
};

}  // namespace qelt
