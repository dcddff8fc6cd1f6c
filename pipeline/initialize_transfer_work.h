#pragma once

#include <memory>

#include "transfer/transfer_work.h"
#include "work/limited_retry_simple_work.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"

namespace qelt {

class DeferredWork;
class HttpSession;

// Learns what to fetch and from where, then builds the file works into the root's deferred slot.
//
//   InitializeTransferWork (milestone: the transfer's OnInitialize)
//     GetManifestsWork
//       GetPackageManifestWork (milestone: OnPackageAcquire)
//       GetNodeListWork (milestone: OnNodeListAcquire)
//     ConstructTransferFromPackageWork
//
// The milestones run before the parents hear of a child, so the package and node list are known to the transfer
// by the time the file works are built.
class InitializeTransferWork : public TransferWork, public SequentialWork {
public:
    InitializeTransferWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                           std::shared_ptr<DeferredWork> deferred);

    void Describe(ptree& out) const override;
};

// The package manifest and the node list, fetched at the same time.
class GetManifestsWork : public TransferWork, public ParallelWork {
public:
    GetManifestsWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session);

    void Describe(ptree& out) const override;
};

// Fetches the package manifest of the transfer's package and version ("?" asks for the current version) and
// hands it to the transfer in a PackageStatusData. A manifest that could not be read is retried in place at once
// within the budget `manifestRetries`; one that is missing, mismatching or malformed is fatal. A running fetch is
// not interrupted by Cancel.
class GetPackageManifestWork : public TransferWork, public LimitedRetrySimpleWork {
public:
    GetPackageManifestWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<HttpSession> session_;
};

// Fetches the partner's node list and hands it to the transfer in a NodeListStatusData; failures as for the
// package manifest.
class GetNodeListWork : public TransferWork, public LimitedRetrySimpleWork {
public:
    GetNodeListWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<HttpSession> session_;
};

// Builds the file works of the accepted package into the deferred slot. A package without files, or a slot
// already filled, is a fatal internal error.
class ConstructTransferFromPackageWork : public TransferWork, public SimpleWork {
public:
    ConstructTransferFromPackageWork(std::shared_ptr<TransferWorkInterface> iface,
                                     std::shared_ptr<HttpSession> session, std::shared_ptr<DeferredWork> deferred);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<HttpSession> session_;
    const std::shared_ptr<DeferredWork> deferred_;
};

}  // namespace qelt
