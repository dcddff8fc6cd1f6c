#pragma once

#include <cstdint>

namespace qelt {

// The error code of a transfer. The numbers are stored in statuses, written to JSON and choose the message the
// user sees.
enum class TransferError : std::uint8_t {
    None = 0,             // no error (a successful or cancelled request)
    ManifestError = 1,    // a manifest missing, not matching or not parsing
    ConnectionError = 2,  // bytes not obtained: resolve, connect, send/receive, HTTP status, range, time-out
    MemoryError = 3,      // out of memory
    DiskFullError = 4,    // no space left for a file
    DiskAccessError = 5,  // bad path, file in use, inaccessible
    ChecksumError = 6,    // a chunk whose CRC-32 does not match
    DiskWriteError = 7,   // any other file failure; received data not written
    RequestError = 8,     // malformed URL or an unclassified HTTP client failure
    InternalError = 9,    // an unexpected exception, missing data, and the default of every classification
};

}  // namespace qelt
