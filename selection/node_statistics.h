#pragma once

#include <cstdint>
#include <mutex>
#include <utility>

#include "base/delta_counter.h"
#include "manifest/manifest.h"

namespace qelt {

// Plain counters of the chunk requests one node or host served. RecordRequest, Serialize and the counters may be
// used from any thread at once; the counters are individually atomic, so a report taken during a burst can mix
// values from before and after one request.
class NodeStatistics : public OutputManifest {
public:
    NodeStatistics() = default;
    NodeStatistics(const NodeStatistics&) = delete;
    NodeStatistics& operator=(const NodeStatistics&) = delete;

    // Writes "Requests", "Errors", "Bytes" and "Average Request Speed" (successful bytes per second over the
    // time of all requests) as decimal values.
    void Serialize(ptree& tree) const override;
    // Records one finished request: its received bytes, its duration (0 counts as 1 ms) and whether it ended in
    // an error state.
    virtual void RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed);

    DeltaCounter<std::int32_t>& Successes() { return successes_; }
    DeltaCounter<std::int32_t>& Errors() { return errors_; }
    DeltaCounter<std::uint64_t>& SuccessBytes() { return successBytes_; }
    DeltaCounter<std::uint64_t>& Bytes() { return bytes_; }
    DeltaCounter<std::uint32_t>& Milliseconds() { return milliseconds_; }
    const DeltaCounter<std::int32_t>& Successes() const { return successes_; }
    const DeltaCounter<std::int32_t>& Errors() const { return errors_; }
    const DeltaCounter<std::uint64_t>& SuccessBytes() const { return successBytes_; }
    const DeltaCounter<std::uint64_t>& Bytes() const { return bytes_; }
    const DeltaCounter<std::uint32_t>& Milliseconds() const { return milliseconds_; }

private:
    DeltaCounter<std::int32_t> successes_;
    DeltaCounter<std::int32_t> errors_;
    DeltaCounter<std::uint64_t> successBytes_;
    DeltaCounter<std::uint64_t> bytes_;
    DeltaCounter<std::uint32_t> milliseconds_;
};

// The speed sample of one request in bytes per second: bytes * 1000 / max(milliseconds, 1), 0 for a failure.
double SpeedSample(std::uint64_t bytes, std::uint32_t milliseconds, bool failed);

// Adds a running estimate of the per-request speed as a normal distribution (Welford's update). A failure counts
// as several zero-speed samples, more the longer the history, so a node with a long good record still drops
// noticeably when it starts failing.
class NormalNodeStatistics : public NodeStatistics {
public:
    void Serialize(ptree& tree) const override;
    void RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) override;
    // (mean, variance) in bytes per second and its square; the variance is 1.0 until there are two samples.
    virtual std::pair<double, double> GetDistribution() const;

    std::uint32_t GetSampleCount() const;

protected:
    mutable std::mutex distributionMutex_;
    std::uint32_t sampleCount_ = 0;
    double mean_ = 0.0;
    // The sum of squared deviations from the mean here; the variance itself in the exponential kind.
    double m2_ = 0.0;
};

// An exponentially weighted estimate that forgets old requests: each request, failed or not, is one sample
// weighted by `smoothing`. The optimizer keeps one per host and samples its distribution to choose nodes.
class ExponentialNormalNodeStatistics : public NormalNodeStatistics {
public:
    explicit ExponentialNormalNodeStatistics(double smoothing) : smoothing_(smoothing) {}

    void RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) override;
    // (mean, variance) as stored; (0.0, 0.0) before the first request.
    std::pair<double, double> GetDistribution() const override;

    double GetSmoothing() const { return smoothing_; }

private:
    double smoothing_;
};

}  // namespace qelt
