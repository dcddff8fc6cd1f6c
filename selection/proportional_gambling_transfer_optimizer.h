#pragma once

#include <boost/random/mersenne_twister.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "selection/transfer_optimizer.h"

namespace qelt {

class ExponentialNormalNodeStatistics;

// Keeps an exponentially weighted speed estimate per host and bets on the fastest: hosts with at most one
// recorded request are explored first with short probe limits; otherwise many speed samples are drawn from
// every candidate's estimated distribution, each candidate's wins are counted, and the node is drawn with
// probability proportional to its wins. Node weights play no part.
class ProportionalGamblingTransferOptimizer : public TransferOptimizer {
public:
    // Seeds the engine with the calendar time in seconds.
    explicit ProportionalGamblingTransferOptimizer(const TransferSettings& settings);
    // A fixed seed, for reproducible choices.
    ProportionalGamblingTransferOptimizer(const TransferSettings& settings, std::uint32_t seed);
    ~ProportionalGamblingTransferOptimizer() override;

    void GetNode(OptimizedRequestParams& params) override;
    // The statistics of the node's host (the whole authority, port included), created on first use.
    std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node) override;

protected:
    void RecordResult(const OptimizedRequestParams& params, const HttpTransferStatusData& statusData) override;

private:
    std::shared_ptr<ExponentialNormalNodeStatistics> HostStatistics(const std::string& host);
    // One weight per candidate: its wins over the trials, each count starting at 1, over (trials + 1).
    std::vector<double> Gamble(const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics);

    boost::random::mt19937 engine_;
    std::unordered_map<std::string, std::shared_ptr<ExponentialNormalNodeStatistics>> hosts_;
};

}  // namespace qelt
