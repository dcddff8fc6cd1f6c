#pragma once

#include <cstdint>
#include <string>

#include "base/transfer_error.h"

namespace qelt {

enum class TransferState : std::uint8_t {
    Unknown = 0,             // no such transfer
    Initializing = 1,        // fetching the package and node manifests
    InitializingPaused = 2,  // as Initializing, paused by the user
    Initialized = 3,         // manifests known; waiting for a start with a destination
    Transferring = 4,        // downloading files
    TransferringPaused = 5,  // as Transferring, paused by the user
    Suspended = 6,           // stopped, record kept; continues only by restoring it
    Complete = 7,            // every byte transferred and verified
    Cancelled = 8,           // stopped for good
};

// No work runs and no work report is accepted in an inactive state.
bool IsInactive(TransferState state);

// What every public transfer operation returns. error None means no error; an error with errorRetryable false is
// fatal (the transfer is finished whatever its state says); with errorRetryable true the workflow waits for a
// retry.
struct TransferStatus {
    std::string transferId;
    std::string partnerId;
    std::string packageId;
    std::string versionId;
    std::string destPath;
    TransferState state = TransferState::Unknown;
    TransferError error = TransferError::None;
    bool errorRetryable = false;
    std::string runPath;  // the package's run entry, reported only when Complete
    std::uint64_t bytesDownloaded = 0;
    std::uint64_t bytesTransferred = 0;
    std::uint64_t bytesVerified = 0;
    std::uint64_t bytesTotal = 0;
    std::uint64_t bytesPerSecond = 0;
    std::int32_t secondsRemaining = -1;

    bool HasFatalError() const { return error != TransferError::None && !errorRetryable; }
    bool HasRetryableError() const { return error != TransferError::None && errorRetryable; }
};

// A fresh status for a transfer id: the other ids "?", empty paths, no error, zero counters, no estimate.
TransferStatus FreshTransferStatus(const std::string& transferId, TransferState state);

}  // namespace qelt
