#include "selection/node_statistics.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <cmath>
#include <limits>

namespace qelt {

namespace {

// Reports are integers; a hostile or absurd figure (a huge byte count over 1 ms, a variance that rounding made
// slightly negative) must not turn into an undefined conversion.
std::uint64_t TruncateToUint64(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace

double SpeedSample(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) {
    if (failed) return 0.0;
    return static_cast<double>(bytes) * 1000.0 / static_cast<double>(std::max<std::uint32_t>(milliseconds, 1));
}

void NodeStatistics::RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) {
    bytes_.Add(bytes);
    milliseconds_.Add(std::max<std::uint32_t>(milliseconds, 1));
    if (failed) {
        errors_.Add(1);
    } else {
        successes_.Add(1);
        successBytes_.Add(bytes);
    }
}

void NodeStatistics::Serialize(ptree& tree) const {
    const std::int32_t errors = errors_.Get();
    const std::int32_t requests = static_cast<std::int32_t>(static_cast<std::uint32_t>(successes_.Get()) +
                                                            static_cast<std::uint32_t>(errors));
    tree.put("Requests", requests);
    tree.put("Errors", errors);
    tree.put("Bytes", bytes_.Get());
    const std::uint32_t milliseconds = milliseconds_.Get();
    const std::uint64_t speed =
        milliseconds == 0 ? 0
                          : TruncateToUint64(static_cast<double>(successBytes_.Get()) / (milliseconds / 1000.0));
    tree.put("Average Request Speed", speed);
}

void NormalNodeStatistics::RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) {
    std::lock_guard<std::mutex> lock(distributionMutex_);
    NodeStatistics::RecordRequest(bytes, milliseconds, failed);
    const double x = SpeedSample(bytes, milliseconds, failed);
    std::uint32_t samples = failed ? sampleCount_ / 10 + 1 : 1;
    // The zero samples of a failure join the history, so each failure adds a tenth more than the previous one:
    // after a few hundred failures a loop of single updates would run for minutes under the lock and the count
    // would wrap. The k equal samples are therefore merged in one step (the pairwise form of Welford's update,
    // the same figures up to rounding) and the count stops at its maximum.
    samples = std::min(samples, std::numeric_limits<std::uint32_t>::max() - sampleCount_);
    if (samples == 0) return;
    const double previous = sampleCount_;
    const double added = samples;
    sampleCount_ += samples;
    const double delta = x - mean_;
    mean_ += delta * added / sampleCount_;
    m2_ += delta * delta * previous * added / sampleCount_;
}

std::pair<double, double> NormalNodeStatistics::GetDistribution() const {
    std::lock_guard<std::mutex> lock(distributionMutex_);
    if (sampleCount_ > 1) return {mean_, m2_ / (sampleCount_ - 1)};
    return {mean_, 1.0};
}

std::uint32_t NormalNodeStatistics::GetSampleCount() const {
    std::lock_guard<std::mutex> lock(distributionMutex_);
    return sampleCount_;
}

void NormalNodeStatistics::Serialize(ptree& tree) const {
    NodeStatistics::Serialize(tree);
    const auto [mean, variance] = GetDistribution();
    tree.put("Average Request Speed", TruncateToUint64(mean));
    tree.put("Standard Deviation", TruncateToUint64(std::sqrt(variance)));
}

void ExponentialNormalNodeStatistics::RecordRequest(std::uint64_t bytes, std::uint32_t milliseconds, bool failed) {
    std::lock_guard<std::mutex> lock(distributionMutex_);
    // The counters only: this class keeps its own distribution in place of the Welford one of its parent.
    NodeStatistics::RecordRequest(bytes, milliseconds, failed);  // NOLINT(bugprone-parent-virtual-call)
    const double x = SpeedSample(bytes, milliseconds, failed);
    const double a = smoothing_;
    ++sampleCount_;
    const double newMean = (1 - a) * mean_ + a * x;
    m2_ = (x - newMean) * (a * (x - mean_)) + (1 - a) * m2_;
    mean_ = newMean;
}

std::pair<double, double> ExponentialNormalNodeStatistics::GetDistribution() const {
    std::lock_guard<std::mutex> lock(distributionMutex_);
    return {mean_, m2_};
}

}  // namespace qelt
