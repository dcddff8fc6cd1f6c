#pragma once

#include <memory>
#include <string>
#include <unordered_set>

#include "transfer/transfer_behavior.h"
#include "transfer/transfer_params.h"

namespace qelt {

class NodeListManifest;
class PackageManifest;
class TransferStatusImpl;

// What one run of a transfer knows, shared by the transfer and the work interface that serves this run. A
// transfer replaces the whole block when it is suspended, so that works of the old run keep the old block alive
// and can no longer touch the new one.
//
// Every field is read and written under the transfer's lock, except what the works read without it: params
// (through TransferWorkInterface::Params), behavior, and package and nodeList once initialisation has set them.
struct StandardTransferData {
    // The status starts in state Initializing, counting with the behaviour's millisecond clock.
    StandardTransferData(const TransferParams& params, const TransferBehavior& behavior);
    StandardTransferData(const StandardTransferData&) = delete;
    StandardTransferData& operator=(const StandardTransferData&) = delete;

    TransferParams params;
    TransferBehavior behavior;
    // Points into params, so the block is never copied.
    std::shared_ptr<TransferStatusImpl> status;
    std::shared_ptr<PackageManifest> package;
    std::shared_ptr<NodeListManifest> nodeList;
    // Files reported from now on are deleted at once.
    bool discardFiles = false;
    // Paths relative to params.destPath.
    std::unordered_set<std::string> createdFiles;
};

}  // namespace qelt
