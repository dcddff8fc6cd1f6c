#pragma once

#include <memory>
#include <vector>

#include "manifest/package_manifest.h"
#include "transfer/transfer_work.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"

namespace qelt {

class HttpSession;

// The root of a transfer's work tree; its completion is the transfer's.
//
//   TransferPackageWork
//     InitializeTransferWork: fetches the manifests, then fills the slot below
//     DeferredWork: a TransferMultipleFilesWork once the package is known
//     AllowExecuteWork
//
// One HTTP session is made per root, so every request of the transfer shares one pool of connections.
class TransferPackageWork : public TransferWork, public SequentialWork {
public:
    explicit TransferPackageWork(std::shared_ptr<TransferWorkInterface> iface);

    void Describe(ptree& out) const override;
};

// Every file of the package: the run files first, one after another, then all the others at once.
// Throws std::logic_error when the package has no file at all (or no package is known).
class TransferMultipleFilesWork : public TransferWork, public SequentialWork {
public:
    TransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session);

    void Describe(ptree& out) const override;
};

// The files of a cluster one after another. Throws std::logic_error for an empty cluster.
class SequentialTransferMultipleFilesWork : public TransferWork, public SequentialWork {
public:
    SequentialTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> iface,
                                        std::shared_ptr<HttpSession> session, const FileManifestList& files);

    void Describe(ptree& out) const override;
};

// The files of a cluster all at once. Throws std::logic_error for an empty cluster.
class ParallelTransferMultipleFilesWork : public TransferWork, public ParallelWork {
public:
    ParallelTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> iface,
                                      std::shared_ptr<HttpSession> session, const FileManifestList& files);

    void Describe(ptree& out) const override;
};

}  // namespace qelt
