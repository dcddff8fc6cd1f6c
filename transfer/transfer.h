#pragma once

#include <memory>
#include <string>

#include "transfer/transfer_status.h"

namespace qelt {

class TransferWorkInterface;

// One download of one package into one folder. Operations may be called from any thread; none throws, and each
// returns the transfer's status as it stands after the call. An operation whose guard fails changes nothing and
// only returns the status.
class Transfer {
public:
    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    virtual ~Transfer() = default;

    virtual TransferStatus Initialize() = 0;
    virtual TransferStatus Start(const std::string& destPath) = 0;
    // True when the files already at destPath plus the free space there hold the whole package.
    virtual bool HasSufficientSpace(const std::string& destPath) = 0;
    // The status, with the periodic event when its interval of active time has passed.
    virtual TransferStatus Update() = 0;
    virtual TransferStatus Cancel(bool discardFiles) = 0;
    virtual TransferStatus Pause() = 0;
    virtual TransferStatus Resume() = 0;
    virtual TransferStatus Retry() = 0;
    virtual TransferStatus Suspend() = 0;
    virtual TransferStatus Restore() = 0;
    virtual std::shared_ptr<TransferWorkInterface> GetWorkInterface() = 0;
    // The node list with each node's statistics as a JSON array; "[]" before a node list is known.
    virtual std::string GetNodesJson() = 0;
};

}  // namespace qelt
