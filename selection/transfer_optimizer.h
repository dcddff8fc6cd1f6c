#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "app/transfer_settings.h"

namespace qelt {

class HttpTransferStatusData;
class NodeManifest;
class NodeStatistics;
struct OptimizedRequestParams;

// Chooses the download node and the time limits of each chunk request, and learns from its outcome. One
// optimizer serves the whole process; chunk works call it from many pool threads, and one mutex serialises
// GetNode, OnRequestComplete and GetStatistics.
//
// The connect and low-speed limits adapt for every transfer at once: one second shorter after each success, twice
// as long after each time-out, within the configured bounds.
class TransferOptimizer {
public:
    explicit TransferOptimizer(const TransferSettings& settings);
    TransferOptimizer(const TransferOptimizer&) = delete;
    TransferOptimizer& operator=(const TransferOptimizer&) = delete;
    virtual ~TransferOptimizer() = default;

    // Chooses from params.candidates and writes SelectedNode, the three flags and the four limits. Throws
    // std::invalid_argument when there is no candidate.
    virtual void GetNode(OptimizedRequestParams& params) = 0;
    // Called for requests whose work succeeded or failed retryably; adapts the limits unless the request
    // explored, then records the result.
    virtual void OnRequestComplete(const OptimizedRequestParams& params, const HttpTransferStatusData& statusData);
    // Called instead of OnRequestComplete for a request that succeeded but whose bytes failed their checksum: the
    // host served a corrupted chunk, which is recorded as a failed request of that host. The limits stay as they
    // are (the connection itself was fine).
    virtual void OnChecksumFailure(const OptimizedRequestParams& params, const HttpTransferStatusData& statusData);
    // The statistics this optimizer keeps for the node: here the node's own.
    virtual std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node);

    std::int32_t AdaptiveConnectTimeout() const;
    std::int32_t AdaptiveLowSpeedTime() const;

protected:
    // Called with the mutex held.
    virtual void RecordResult(const OptimizedRequestParams& params, const HttpTransferStatusData& statusData) = 0;

    // The limits of a request to a node the optimizer knows, and of one exploring a node it does not.
    void AssignNormal(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;
    void AssignExploring(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;

    mutable std::recursive_mutex mutex_;
    const TransferSettings settings_;
    std::int32_t adaptiveConnectTimeout_;
    std::int32_t adaptiveLowSpeedTime_;
};

// max(floor, chunk length x shares / minimum speed) in seconds, computed in 64 bits and clamped to the 32-bit
// range: the 32-bit product overflows for chunks of a few hundred MiB.
std::int32_t RequestTimeout(std::uint64_t lowerBound, std::uint64_t upperBound, std::uint32_t shares,
                            std::int32_t minSpeed, std::int32_t floorSeconds);

}  // namespace qelt
