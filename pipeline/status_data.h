#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "base/transfer_error.h"
#include "http/http_request.h"
#include "work/work_status.h"

namespace qelt {

class MemoryMappedFileData;
class NodeListManifest;
class PackageManifest;
class SharedFile;
class TransferProgressUpdater;

// The decimal text written for an error.
std::string ToString(TransferError error);

// Payload of a transfer work's status that names a transfer error. Immutable and read from any thread.
class TransferStatusData : public virtual WorkStatusData {
public:
    virtual TransferError ToTransferError() const = 0;
};

class TransferErrorData : public TransferStatusData, public WorkErrorData {
public:
    TransferErrorData(TransferError error, std::string message);
    TransferError ToTransferError() const override { return error_; }
    // "transferError", "errorMessage".
    void Describe(ptree& out) const override;
    // "error|" error "|" message.
    std::string ToString() const override;

private:
    TransferError error_;
};

class TransferExceptionData : public TransferStatusData, public WorkExceptionData {
public:
    // Captures the exception being handled when called inside a catch block.
    explicit TransferExceptionData(TransferError error, std::exception_ptr exception = std::current_exception());
    TransferError ToTransferError() const override { return error_; }
    // "transferError", then "exception" and "what".
    void Describe(ptree& out) const override;
    // "error|" error "|" the exception's type name.
    std::string ToString() const override;

private:
    TransferError error_;
};

// An exception that escaped a file or chunk work, classified once: the error and whether trying again in place
// can help (a file in use or inaccessible, a full disk).
class TransferFileExceptionData : public TransferExceptionData {
public:
    explicit TransferFileExceptionData(std::exception_ptr exception = std::current_exception());
    bool Retryable() const { return retryable_; }

private:
    struct Classification {
        TransferError error;
        bool retryable;
    };
    static Classification Classify(const std::exception_ptr& exception);
    TransferFileExceptionData(std::exception_ptr exception, Classification classification);

    bool retryable_;
};

// The status of a file or chunk work whose ExecuteTask let an exception escape: RetryableError when the
// classification says retryable, else FatalError, with a TransferFileExceptionData. Call inside the catch block.
WorkStatus FileExceptionStatus(std::exception_ptr exception = std::current_exception());

class ChecksumStatusData : public TransferStatusData {
public:
    explicit ChecksumStatusData(std::uint32_t actualChecksum) : actualChecksum_(actualChecksum) {}
    TransferError ToTransferError() const override { return TransferError::ChecksumError; }
    std::uint32_t ActualChecksum() const { return actualChecksum_; }
    // "actualChecksum" in lower-case hexadecimal without leading zeros.
    void Describe(ptree& out) const override;
    // "error|6".
    std::string ToString() const override;

private:
    std::uint32_t actualChecksum_;
};

// The outcome of one chunk request against a node.
class HttpTransferStatusData : public TransferStatusData {
public:
    HttpTransferStatusData(std::string hostname, HttpRequestStatus status, std::int32_t requestTimeMs);
    HttpTransferStatusData(const HttpTransferStatusData&) = delete;
    HttpTransferStatusData& operator=(const HttpTransferStatusData&) = delete;

    // By the request's State: None for Succeeded and Cancelled; the network, write, memory or request error for
    // the failed states; InternalError for a request that never finished (Idle, Running).
    TransferError ToTransferError() const override;
    // "hostname", "ip", "httpResult", "httpResponseCode", "bytesWritten", "errorDetails", "requestTimeMs".
    void Describe(ptree& out) const override;
    // "" without an error, else "error|" error "|" State "|" Message.
    std::string ToString() const override;

    const std::string& Hostname() const { return hostname_; }
    const HttpRequestStatus& Status() const { return status_; }
    std::int32_t RequestTimeMs() const { return requestTimeMs_; }

private:
    std::string hostname_;
    HttpRequestStatus status_;
    std::int32_t requestTimeMs_;
};

// Hands a fetched package to the transfer. Not a transfer error payload.
class PackageStatusData : public WorkStatusData {
public:
    explicit PackageStatusData(std::shared_ptr<const PackageManifest> package) : package_(std::move(package)) {}
    // "packageId", "partnerId", "versionId"; without a package the single key "package" = "null".
    void Describe(ptree& out) const override;
    // May be null.
    const std::shared_ptr<const PackageManifest>& Package() const { return package_; }

private:
    std::shared_ptr<const PackageManifest> package_;
};

// Hands a fetched node list to the transfer. Not a transfer error payload.
class NodeListStatusData : public WorkStatusData {
public:
    explicit NodeListStatusData(std::shared_ptr<NodeListManifest> nodeList) : nodeList_(std::move(nodeList)) {}
    // "count" = the number of nodes; without a list the single key "nodes" = "null".
    void Describe(ptree& out) const override;
    // May be null.
    const std::shared_ptr<NodeListManifest>& NodeList() const { return nodeList_; }

private:
    std::shared_ptr<NodeListManifest> nodeList_;
};

// What the works of one file share. The works of a file run one after another, so nothing here is locked.
class TransferSharedFileData : public WorkDescriptor {
public:
    TransferSharedFileData(std::string filePath, std::uint64_t fileSize)
        : filePath(std::move(filePath)), fileSize(fileSize) {}
    TransferSharedFileData(const TransferSharedFileData&) = delete;
    TransferSharedFileData& operator=(const TransferSharedFileData&) = delete;

    // "filePath", "fileSize".
    void Describe(ptree& out) const override;

    // The opened destination file: null until it has been opened and allocated, null again once closed.
    std::shared_ptr<SharedFile> file;
    // Set when the open found the file empty (or made it so by creating it again) and allocated it: its bytes are
    // then known to be zeros until a chunk writes there. Never set for a file that already held bytes, whose
    // chunks are always read.
    bool allocatedFresh = false;
    // Relative to the destination folder, as in the manifest.
    const std::string filePath;
    const std::uint64_t fileSize;
};

// What the works of one chunk share. The works of a chunk run one after another, so nothing here is locked; the
// progress counters lock themselves.
class TransferSharedMapData : public WorkDescriptor {
public:
    TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                          std::uint64_t upperBound, std::uint32_t expectedChecksum,
                          std::shared_ptr<TransferProgressUpdater> progress);
    TransferSharedMapData(const TransferSharedMapData&) = delete;
    TransferSharedMapData& operator=(const TransferSharedMapData&) = delete;

    // The file data's keys, then "lowerBound", "upperBound", "expectedChecksum" (lower-case hexadecimal),
    // "fileProgressBytes".
    void Describe(ptree& out) const override;

    // True when the chunk's range is known to hold only zeros without reading it: a freshly allocated file that no
    // download of this chunk has written to.
    bool HoldsOnlyZeros() const { return fileData->allocatedFresh && !downloadStarted; }
    std::uint64_t Length() const { return upperBound - lowerBound + 1; }

    const std::shared_ptr<TransferSharedFileData> fileData;
    const std::uint64_t lowerBound;
    const std::uint64_t upperBound;  // inclusive
    const std::uint32_t expectedChecksum;
    // Set by the first download of the chunk, before it writes; never cleared. From then on the range may hold
    // anything, whatever the file held when it was opened. Next to the checksum, in what would otherwise be
    // padding: there is one of these per chunk.
    bool downloadStarted = false;
    // The mapped view of exactly [lowerBound, upperBound]: null until mapped, null again after release.
    std::shared_ptr<MemoryMappedFileData> view;
    const std::shared_ptr<TransferProgressUpdater> progress;
    // Bytes of this chunk currently counted in the transfer's progress. Atomic because the work log describes
    // a chunk's finished works on its own threads while the chunk's next works still count.
    std::atomic<std::uint64_t> fileProgressBytes{0};
};

}  // namespace qelt
