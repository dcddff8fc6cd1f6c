#include "selection/transfer_optimizer.h"

#include <algorithm>
#include <limits>

#include "http/http_request.h"
#include "manifest/node_manifest.h"
#include "pipeline/optimized_request_params.h"
#include "pipeline/status_data.h"

namespace qelt {

std::int32_t RequestTimeout(std::uint64_t lowerBound, std::uint64_t upperBound, std::uint32_t shares,
                            std::int32_t minSpeed, std::int32_t floorSeconds) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (minSpeed <= 0) return static_cast<std::int32_t>(kMax);
    const std::uint64_t length = upperBound >= lowerBound ? upperBound - lowerBound + 1 : 0;
    const std::uint64_t factor = std::max<std::uint64_t>(shares, 1);
    std::uint64_t seconds = length > std::numeric_limits<std::uint64_t>::max() / factor
                                ? kMax
                                : length * factor / static_cast<std::uint64_t>(minSpeed);
    seconds = std::min(seconds, kMax);
    return std::max(floorSeconds, static_cast<std::int32_t>(seconds));
}

TransferOptimizer::TransferOptimizer(const TransferSettings& settings)
    : settings_(settings),
      adaptiveConnectTimeout_(settings.minConnectTimeout),
      adaptiveLowSpeedTime_(settings.minLowSpeedTime) {}

std::int32_t TransferOptimizer::AdaptiveConnectTimeout() const {
    std::lock_guard lock(mutex_);
    return adaptiveConnectTimeout_;
}

std::int32_t TransferOptimizer::AdaptiveLowSpeedTime() const {
    std::lock_guard lock(mutex_);
    return adaptiveLowSpeedTime_;
}

void TransferOptimizer::OnRequestComplete(const OptimizedRequestParams& params,
                                          const HttpTransferStatusData& statusData) {
    std::lock_guard lock(mutex_);
    if (!params.exploring) {
        const auto state = statusData.Status().State;
        if (state == HttpRequestResult::Succeeded) {
            adaptiveConnectTimeout_ = std::max(adaptiveConnectTimeout_ - 1, settings_.minConnectTimeout);
            adaptiveLowSpeedTime_ = std::max(adaptiveLowSpeedTime_ - 1, settings_.minLowSpeedTime);
        } else if (state == HttpRequestResult::TimedOut) {
            adaptiveConnectTimeout_ = std::min(2 * adaptiveConnectTimeout_, settings_.maxConnectTimeout);
            adaptiveLowSpeedTime_ = std::min(2 * adaptiveLowSpeedTime_, settings_.maxLowSpeedTime);
        }
    }
    RecordResult(params, statusData);
}

void TransferOptimizer::OnChecksumFailure(const OptimizedRequestParams& params,
                                          const HttpTransferStatusData& statusData) {
    HttpRequestStatus failed = statusData.Status();
    failed.State = HttpRequestResult::OtherError;
    failed.Message = "checksum mismatch";
    const HttpTransferStatusData failure(statusData.Hostname(), std::move(failed), statusData.RequestTimeMs());
    std::lock_guard lock(mutex_);
    RecordResult(params, failure);
}

std::shared_ptr<NodeStatistics> TransferOptimizer::GetStatistics(const NodeManifest& node) {
    return node.GetStatistics();
}

void TransferOptimizer::AssignNormal(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const {
    params.SelectedNode = std::move(node);
    params.freeRetry = false;
    params.exploring = false;
    params.timeoutsCanGrow =
        adaptiveConnectTimeout_ < settings_.maxConnectTimeout || adaptiveLowSpeedTime_ < settings_.maxLowSpeedTime;
    params.connectTimeout = adaptiveConnectTimeout_;
    params.lowSpeedTime = adaptiveLowSpeedTime_;
    params.timeout = RequestTimeout(params.ChunkData->lowerBound, params.ChunkData->upperBound,
                                    settings_.transferThreads, settings_.minSpeed, settings_.minRequestTimeout);
    params.lowSpeedLimit = settings_.minSpeed / static_cast<std::int32_t>(std::max(settings_.transferThreads, 1u));
}

void TransferOptimizer::AssignExploring(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const {
    params.SelectedNode = std::move(node);
    params.freeRetry = true;
    params.timeoutsCanGrow = false;
    params.exploring = true;
    params.connectTimeout = settings_.exploreConnectTimeout;
    params.lowSpeedTime = settings_.exploreLowSpeedTime;
    params.timeout =
        RequestTimeout(params.ChunkData->lowerBound, params.ChunkData->upperBound, settings_.transferThreads,
                       settings_.exploreMinSpeed, settings_.exploreMinRequestTimeout);
    params.lowSpeedLimit =
        settings_.exploreMinSpeed / static_cast<std::int32_t>(std::max(settings_.transferThreads, 1u));
}

}  // namespace qelt
