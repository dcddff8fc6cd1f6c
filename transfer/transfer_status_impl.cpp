#include "transfer/transfer_status_impl.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "manifest/package_manifest.h"
#include "transfer/transfer_params.h"

namespace qelt {

TransferStatusImpl::TransferStatusImpl(const TransferParams* params, unsigned rateWindowSeconds,
                                       unsigned estimateIntervalMs, MillisecondClock clock)
    : params_(params),
      record_(FreshTransferStatus(params->transferId, TransferState::Initializing)),
      rateWindowSeconds_(rateWindowSeconds),
      estimateIntervalMs_(estimateIntervalMs),
      clock_(std::move(clock)) {}

void TransferStatusImpl::AddProgress(const std::uint64_t& bytes) {
    transferred_.fetch_add(bytes);
}
void TransferStatusImpl::RemoveProgress(const std::uint64_t& bytes) {
    transferred_.fetch_sub(bytes);
}
void TransferStatusImpl::AddVerified(const std::uint64_t& bytes) {
    verified_.fetch_add(bytes);
}
void TransferStatusImpl::AddDownloaded(const std::uint64_t& bytes) {
    downloaded_.Add(bytes);
}

void TransferStatusImpl::SetPackage(const PackageManifest& package) {
    record_.runPath = package.GetRun();
    record_.bytesTotal = package.GetTotalSize();
}

void TransferStatusImpl::GetStatus(TransferStatus& out) {
    out = record_;
    out.transferId = params_->transferId;
    out.partnerId = params_->partnerId;
    out.packageId = params_->packageId;
    out.versionId = params_->versionId;
    out.destPath = params_->destPath;
    if (out.state != TransferState::Complete) out.runPath.clear();
    out.bytesDownloaded = downloaded_.Get();
    out.bytesTransferred = transferred_.load();
    out.bytesVerified = verified_.load();
    // Estimate before sampling: the newest sample is then the previous request's, so active time only grows
    // between two requests that both saw the transfer running.
    out.secondsRemaining = EstimateRemaining(out);
    out.bytesPerSecond = ComputeRate(out);
}

std::uint64_t TransferStatusImpl::ActiveSinceMark() {
    return activeMs_.SinceLastDelta();
}

std::uint64_t TransferStatusImpl::ComputeRate(const TransferStatus& status) {
    const bool transferring =
        status.state == TransferState::Transferring || status.state == TransferState::TransferringPaused;
    if (transferring && !status.HasFatalError()) {
        const std::uint32_t now = clock_();
        samples_.push_back({now, status.bytesDownloaded});
        while (samples_.size() > 2 && (now - samples_.front().timeMs) / 1000 >= rateWindowSeconds_) {
            samples_.pop_front();
        }
        measuring_ = status.state == TransferState::Transferring && status.error == TransferError::None;
    }
    if (samples_.size() < 2) return 0;
    const auto& oldest = samples_.front();
    const auto& newest = samples_.back();
    const std::uint64_t bytes = newest.downloaded > oldest.downloaded ? newest.downloaded - oldest.downloaded : 0;
    const std::uint64_t spanSeconds = (newest.timeMs - oldest.timeMs) / 1000;
    // Never divide by less than the window, so the rate rises gradually during the first window.
    return bytes / std::max<std::uint64_t>(spanSeconds, std::max(rateWindowSeconds_, 1u));
}

std::int32_t TransferStatusImpl::EstimateRemaining(const TransferStatus& status) {
    const bool running = status.state == TransferState::Transferring && status.error == TransferError::None;
    if (status.bytesDownloaded != 0 && running && !samples_.empty() && measuring_) {
        activeMs_.Add(clock_() - samples_.back().timeMs);
    }
    const std::uint64_t active = activeMs_.Get();
    // Active time without a downloaded byte cannot give a speed: no estimate rather than a division by zero.
    if (active == 0 || status.bytesDownloaded == 0) return -1;
    if (running && active < lastEstimateAt_ + estimateIntervalMs_) return cachedEstimate_;

    const std::uint64_t remaining =
        status.bytesTotal > status.bytesTransferred ? status.bytesTotal - status.bytesTransferred : 0;
    const double estimate =
        std::ceil(static_cast<double>(active) / (static_cast<double>(status.bytesDownloaded) * 1000.0) *
                  static_cast<double>(remaining));
    // A crawl on a huge package can exceed what the 32-bit field holds; saturate instead of overflowing.
    cachedEstimate_ = estimate >= static_cast<double>(std::numeric_limits<std::int32_t>::max())
                          ? std::numeric_limits<std::int32_t>::max()
                          : static_cast<std::int32_t>(estimate);
    lastEstimateAt_ = active;
    return cachedEstimate_;
}

}  // namespace qelt
