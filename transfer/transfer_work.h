#pragma once

#include <memory>
#include <string>
#include <utility>

#include "transfer/transfer_params.h"

namespace qelt {

class NodeListManifest;
class PackageManifest;
class TransferProgressUpdater;
class WorkCompleteCallback;
class WorkflowRetryableErrorCallback;
struct TransferBehavior;

// The narrow view of a transfer its works hold. The callbacks forward to the transfer's milestone handlers, which
// run under the transfer's lock.
class TransferWorkInterface {
public:
    virtual ~TransferWorkInterface() = default;
    // A copy taken under the transfer's lock.
    virtual TransferParams GetParams() = 0;
    // Points into the transfer's data, read without a lock.
    virtual const TransferParams* Params() = 0;
    virtual TransferBehavior* GetBehavior() = 0;
    // Null until the transfer accepted one.
    virtual std::shared_ptr<PackageManifest> GetPackage() = 0;
    virtual std::shared_ptr<NodeListManifest> GetNodeList() = 0;
    virtual std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() = 0;
    virtual WorkCompleteCallback* GetCompleteCallback() = 0;
    virtual WorkCompleteCallback* GetPackageCallback() = 0;
    virtual WorkCompleteCallback* GetNodeListCallback() = 0;
    virtual WorkCompleteCallback* GetInitializeCallback() = 0;
    virtual WorkflowRetryableErrorCallback* GetRetryableErrorCallback() = 0;
    virtual void RegisterCreatedFile(const std::string& relativePath) = 0;
};

// Base of every work of a transfer; listed first among the work's bases.
class TransferWork {
public:
    explicit TransferWork(std::shared_ptr<TransferWorkInterface> iface) : iface_(std::move(iface)) {}
    virtual ~TransferWork() = default;

    const std::shared_ptr<TransferWorkInterface>& Interface() const { return iface_; }

protected:
    std::shared_ptr<TransferWorkInterface> iface_;
};

}  // namespace qelt
