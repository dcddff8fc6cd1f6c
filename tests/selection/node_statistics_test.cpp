#include "selection/node_statistics.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <limits>
#include <thread>
#include <vector>

namespace qelt {
namespace {

std::string Value(const ptree& tree, const char* key) {
    return tree.get<std::string>(key);
}

TEST(NodeStatisticsTest, FreshStatisticsSerialiseZeros) {
    NodeStatistics statistics;
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Requests"), "0");
    EXPECT_EQ(Value(out, "Errors"), "0");
    EXPECT_EQ(Value(out, "Bytes"), "0");
    EXPECT_EQ(Value(out, "Average Request Speed"), "0");
    EXPECT_EQ(out.size(), 4u);
}

TEST(NodeStatisticsTest, SpeedSampleIsBytesPerSecondWithAtLeastOneMillisecond) {
    EXPECT_DOUBLE_EQ(SpeedSample(2048, 500, false), 4096.0);
    EXPECT_DOUBLE_EQ(SpeedSample(2048, 0, false), 2048000.0);
    EXPECT_DOUBLE_EQ(SpeedSample(2048, 500, true), 0.0);
}

TEST(NodeStatisticsTest, ZeroDurationCountsAsOneMillisecond) {
    NodeStatistics statistics;
    statistics.RecordRequest(2048, 0, false);
    EXPECT_EQ(statistics.Milliseconds().Get(), 1u);
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Average Request Speed"), "2048000");
}

TEST(NodeStatisticsTest, FailuresCountBytesButNotSuccessfulBytes) {
    NodeStatistics statistics;
    statistics.RecordRequest(1000, 500, false);
    statistics.RecordRequest(100, 500, true);
    EXPECT_EQ(statistics.Successes().Get(), 1);
    EXPECT_EQ(statistics.Errors().Get(), 1);
    EXPECT_EQ(statistics.Bytes().Get(), 1100u);
    EXPECT_EQ(statistics.SuccessBytes().Get(), 1000u);
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Requests"), "2");
    EXPECT_EQ(Value(out, "Errors"), "1");
    EXPECT_EQ(Value(out, "Bytes"), "1100");
    // Successful bytes over the time of all requests.
    EXPECT_EQ(Value(out, "Average Request Speed"), "1000");
}

TEST(NodeStatisticsTest, AbsurdFiguresSaturateInsteadOfOverflowing) {
    NodeStatistics statistics;
    statistics.RecordRequest(std::numeric_limits<std::uint64_t>::max(), 1, false);
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Average Request Speed"), std::to_string(std::numeric_limits<std::uint64_t>::max()));

    NormalNodeStatistics normal;
    normal.RecordRequest(std::numeric_limits<std::uint64_t>::max(), 1, false);
    normal.RecordRequest(0, 1, false);
    ptree normalOut;
    normal.Serialize(normalOut);
    EXPECT_EQ(Value(normalOut, "Average Request Speed"),
              std::to_string(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(Value(normalOut, "Standard Deviation"), std::to_string(std::numeric_limits<std::uint64_t>::max()));
}

TEST(NormalNodeStatisticsTest, FreshDistributionHasUnitVariance) {
    NormalNodeStatistics statistics;
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 1.0));
    statistics.RecordRequest(2048, 500, false);
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(4096.0, 1.0));
}

TEST(NormalNodeStatisticsTest, WelfordMeanAndSampleVariance) {
    NormalNodeStatistics statistics;
    // Speeds 1000, 2000, 3000, 6000: mean 3000, sample variance (4 + 1 + 0 + 9) * 10^6 / 3.
    for (std::uint64_t bytes : {1000, 2000, 3000, 6000})
        statistics.RecordRequest(bytes, 1000, false);
    const auto [mean, variance] = statistics.GetDistribution();
    EXPECT_DOUBLE_EQ(mean, 3000.0);
    EXPECT_DOUBLE_EQ(variance, 14e6 / 3);
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Average Request Speed"), "3000");
    EXPECT_EQ(Value(out, "Standard Deviation"), "2160");
    EXPECT_EQ(Value(out, "Requests"), "4");
}

TEST(NormalNodeStatisticsTest, FailurePenaltyGrowsWithHistory) {
    NormalNodeStatistics fresh;
    fresh.RecordRequest(100, 10, true);
    EXPECT_EQ(fresh.GetSampleCount(), 1u);
    EXPECT_EQ(fresh.GetDistribution().first, 0.0);

    NormalNodeStatistics seasoned;
    for (int i = 0; i < 25; ++i)
        seasoned.RecordRequest(2800, 1000, false);
    seasoned.RecordRequest(100, 10, true);
    EXPECT_EQ(seasoned.GetSampleCount(), 28u);
    EXPECT_DOUBLE_EQ(seasoned.GetDistribution().first, 2500.0);
    // The counters see one failed request, not three.
    EXPECT_EQ(seasoned.Errors().Get(), 1);
    EXPECT_EQ(seasoned.Successes().Get(), 25);
}

TEST(NormalNodeStatisticsTest, PenaltySamplesMatchSingleWelfordUpdates) {
    NormalNodeStatistics statistics;
    for (std::uint64_t bytes : {1000, 4000, 2500, 9000, 3000, 7000, 1000, 5000, 6000, 8000, 2000}) {
        statistics.RecordRequest(bytes, 1000, false);
    }
    statistics.RecordRequest(0, 1000, true);
    // The same history fed one sample at a time: eleven speeds, then 11 / 10 + 1 = 2 zeros.
    double mean = 0, m2 = 0;
    int count = 0;
    for (double x : {1000., 4000., 2500., 9000., 3000., 7000., 1000., 5000., 6000., 8000., 2000., 0., 0.}) {
        ++count;
        const double delta = x - mean;
        mean += delta / count;
        m2 += (x - mean) * delta;
    }
    EXPECT_EQ(statistics.GetSampleCount(), 13u);
    EXPECT_NEAR(statistics.GetDistribution().first, mean, 1e-9 * mean);
    EXPECT_NEAR(statistics.GetDistribution().second, m2 / 12, 1e-9 * m2);
}

TEST(NormalNodeStatisticsTest, ManyFailuresStayCheapAndTheCountSaturates) {
    NormalNodeStatistics statistics;
    statistics.RecordRequest(1000, 1000, false);
    // Each failure adds a tenth of the history as zero samples; a thousand of them pass 2^32 samples.
    for (int i = 0; i < 1000; ++i)
        statistics.RecordRequest(1000, 1000, true);
    EXPECT_EQ(statistics.GetSampleCount(), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(statistics.Errors().Get(), 1000);
    const auto [mean, variance] = statistics.GetDistribution();
    EXPECT_GE(mean, 0.0);
    EXPECT_LT(mean, 1e-3);
    EXPECT_GE(variance, 0.0);
}

TEST(ExponentialNormalNodeStatisticsTest, ForgetsWithTheSmoothingFactor) {
    ExponentialNormalNodeStatistics statistics(0.3);
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 0.0));
    statistics.RecordRequest(1000, 1000, false);
    EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 300.0);
    EXPECT_DOUBLE_EQ(statistics.GetDistribution().second, 210000.0);
    statistics.RecordRequest(1000, 1000, false);
    EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, 510.0);
    EXPECT_DOUBLE_EQ(statistics.GetDistribution().second, 249900.0);
    ptree out;
    statistics.Serialize(out);
    EXPECT_EQ(Value(out, "Average Request Speed"), "510");
    EXPECT_EQ(Value(out, "Standard Deviation"), "499");
}

TEST(ExponentialNormalNodeStatisticsTest, AFailureIsOneZeroSample) {
    ExponentialNormalNodeStatistics statistics(0.5);
    for (int i = 0; i < 30; ++i)
        statistics.RecordRequest(1000, 1000, false);
    const double before = statistics.GetDistribution().first;
    statistics.RecordRequest(1000, 1000, true);
    EXPECT_DOUBLE_EQ(statistics.GetDistribution().first, before * 0.5);
    EXPECT_EQ(statistics.GetSampleCount(), 31u);
    EXPECT_EQ(statistics.Errors().Get(), 1);
}

template <typename Statistics>
void RecordFromThreads(Statistics& statistics) {
    constexpr int kThreads = 4;
    constexpr int kRequests = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&statistics, t] {
            for (int i = 0; i < kRequests; ++i)
                statistics.RecordRequest(3, 2, (i + t) % 4 == 0);
        });
    }
    // A concurrent delta reader must neither lose nor repeat any increase.
    std::uint64_t deltaBytes = 0;
    for (int i = 0; i < 1000; ++i)
        deltaBytes += statistics.Bytes().TakeDelta();
    for (auto& thread : threads)
        thread.join();
    deltaBytes += statistics.Bytes().TakeDelta();

    const int total = kThreads * kRequests;
    EXPECT_EQ(statistics.Successes().Get() + statistics.Errors().Get(), total);
    EXPECT_EQ(statistics.Errors().Get(), total / 4);
    EXPECT_EQ(statistics.Bytes().Get(), 3u * total);
    EXPECT_EQ(deltaBytes, 3u * total);
    EXPECT_EQ(statistics.SuccessBytes().Get(), 3u * (total - total / 4));
    EXPECT_EQ(statistics.Milliseconds().Get(), 2u * total);
}

TEST(NodeStatisticsConcurrencyTest, ConcurrentRecordsKeepExactTotals) {
    NodeStatistics plain;
    RecordFromThreads(plain);
    NormalNodeStatistics normal;
    RecordFromThreads(normal);
    ExponentialNormalNodeStatistics exponential(0.3);
    RecordFromThreads(exponential);
    EXPECT_EQ(exponential.GetSampleCount(), 80000u);
}

}  // namespace
}  // namespace qelt
