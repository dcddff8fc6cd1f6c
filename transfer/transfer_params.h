#pragma once

#include <string>

#include "base/version_placeholder.h"
#include "work/work_status.h"

namespace qelt {

// The identity and target of a transfer. "?" stands for a value not given: a destPath of "?" means the transfer
// has not been started, a versionId of "?" asks for the package's current version.
class TransferParams : public WorkDescriptor {
public:
    // Writes "transferId", "partnerId", "packageId", "versionId", "destPath", in that order; suspended is not
    // written.
    void Describe(ptree& out) const override;

    std::string transferId = UnspecifiedVersion;
    std::string partnerId = UnspecifiedVersion;
    std::string packageId = UnspecifiedVersion;
    std::string versionId = UnspecifiedVersion;
    std::string destPath = UnspecifiedVersion;
    bool suspended = false;
};

}  // namespace qelt
