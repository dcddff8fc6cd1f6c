#include "transfer/transfer_status.h"

#include "base/version_placeholder.h"

namespace qelt {

bool IsInactive(TransferState state) {
    return state == TransferState::Unknown || state == TransferState::Suspended ||
           state == TransferState::Complete || state == TransferState::Cancelled;
}

TransferStatus FreshTransferStatus(const std::string& transferId, TransferState state) {
    TransferStatus status;
    status.transferId = transferId;
    status.partnerId = UnspecifiedVersion;
    status.packageId = UnspecifiedVersion;
    status.versionId = UnspecifiedVersion;
    status.state = state;
    return status;
}

}  // namespace qelt
