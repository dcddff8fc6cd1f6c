#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "base/clock.h"
#include "base/delta_counter.h"
#include "transfer/transfer_progress_updater.h"
#include "transfer/transfer_status.h"

namespace qelt {

class PackageManifest;
class TransferParams;

// Where the works of one transfer count bytes, and from which the transfer builds the status it returns: the rate
// over a sliding window, the remaining-time estimate, and the marks from which each analytics event reports what
// happened since the previous one.
//
// The progress operations are atomic and may be called from any thread. Everything else (record, GetStatus,
// SetPackage) is called under the transfer's lock, one thread at a time.
class TransferStatusImpl : public TransferProgressUpdater {
public:
    // `params` must outlive this object (it points into the transfer's data). `rateWindowSeconds` is the age
    // limit of the rate samples; `estimateIntervalMs` how much active time passes between two estimates.
    TransferStatusImpl(const TransferParams* params, unsigned rateWindowSeconds, unsigned estimateIntervalMs,
                       MillisecondClock clock = SystemMillisecondClock());
    TransferStatusImpl(const TransferStatusImpl&) = delete;
    TransferStatusImpl& operator=(const TransferStatusImpl&) = delete;

    void AddProgress(const std::uint64_t& bytes) override;
    void RemoveProgress(const std::uint64_t& bytes) override;
    void AddVerified(const std::uint64_t& bytes) override;
    void AddDownloaded(const std::uint64_t& bytes) override;

    // State, error, errorRetryable, runPath and bytesTotal; written by the transfer under its lock.
    TransferStatus& Record() { return record_; }
    const TransferStatus& Record() const { return record_; }

    void SetPackage(const PackageManifest& package);
    void GetStatus(TransferStatus& out);
    // The two counters alone, without the sampling GetStatus does.
    std::uint64_t BytesTransferred() const { return transferred_.load(); }
    std::uint64_t BytesVerified() const { return verified_.load(); }

    // Active milliseconds since the last TakeActiveDelta, leaving the mark where it is.
    std::uint64_t ActiveSinceMark();
    std::uint64_t TakeActiveDelta() { return activeMs_.TakeDelta(); }
    std::uint64_t TakeDownloadedDelta() { return downloaded_.TakeDelta(); }

private:
    struct Sample {
        std::uint32_t timeMs;
        std::uint64_t downloaded;
    };

    std::uint64_t ComputeRate(const TransferStatus& status);
    std::int32_t EstimateRemaining(const TransferStatus& status);

    const TransferParams* params_;
    TransferStatus record_;
    std::atomic<std::uint64_t> transferred_{0};
    std::atomic<std::uint64_t> verified_{0};
    DeltaCounter<std::uint64_t> downloaded_;
    DeltaCounter<std::uint64_t> activeMs_;
    const unsigned rateWindowSeconds_;
    const unsigned estimateIntervalMs_;
    MillisecondClock clock_;
    std::deque<Sample> samples_;
    bool measuring_ = false;
    std::int32_t cachedEstimate_ = -1;
    std::uint64_t lastEstimateAt_ = 0;
};

}  // namespace qelt
