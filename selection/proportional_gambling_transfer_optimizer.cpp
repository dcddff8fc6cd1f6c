#include "selection/proportional_gambling_transfer_optimizer.h"

#include <boost/random/discrete_distribution.hpp>
#include <boost/random/normal_distribution.hpp>
#include <boost/random/uniform_int_distribution.hpp>
#include <cmath>
#include <ctime>
#include <stdexcept>

#include "manifest/node_manifest.h"
#include "pipeline/optimized_request_params.h"
#include "pipeline/status_data.h"
#include "selection/node_statistics.h"

namespace qelt {

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(const TransferSettings& settings)
    : ProportionalGamblingTransferOptimizer(settings, static_cast<std::uint32_t>(std::time(nullptr))) {}

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(const TransferSettings& settings,
                                                                             std::uint32_t seed)
    : TransferOptimizer(settings), engine_(seed) {}

ProportionalGamblingTransferOptimizer::~ProportionalGamblingTransferOptimizer() = default;

std::shared_ptr<ExponentialNormalNodeStatistics> ProportionalGamblingTransferOptimizer::HostStatistics(
    const std::string& host) {
    auto& entry = hosts_[host];
    if (!entry) entry = std::make_shared<ExponentialNormalNodeStatistics>(settings_.statisticsSmoothing);
    return entry;
}

std::shared_ptr<NodeStatistics> ProportionalGamblingTransferOptimizer::GetStatistics(const NodeManifest& node) {
    std::lock_guard lock(mutex_);
    return HostStatistics(node.GetHost());
}

void ProportionalGamblingTransferOptimizer::GetNode(OptimizedRequestParams& params) {
    std::lock_guard lock(mutex_);
    const auto& candidates = params.candidates;
    if (candidates.empty()) throw std::invalid_argument("TransferOptimizer::GetNode received empty nodelist");
    if (candidates.size() == 1) {
        AssignNormal(params, candidates.front());
        return;
    }

    std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
    statistics.reserve(candidates.size());
    for (const auto& node : candidates)
        statistics.push_back(HostStatistics(node->GetHost()));

    std::vector<std::size_t> unexplored;
    for (std::size_t i = 0; i < statistics.size(); ++i) {
        if (statistics[i]->GetSampleCount() <= 1) unexplored.push_back(i);
    }
    if (!unexplored.empty()) {
        boost::random::uniform_int_distribution<std::size_t> pick(0, unexplored.size() - 1);
        AssignExploring(params, candidates[unexplored[pick(engine_)]]);
        return;
    }

    const auto weights = Gamble(statistics);
    boost::random::discrete_distribution<std::size_t, double> draw(weights.begin(), weights.end());
    AssignNormal(params, candidates[draw(engine_)]);
}

std::vector<double> ProportionalGamblingTransferOptimizer::Gamble(
    const std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>>& statistics) {
    const auto n = static_cast<std::uint32_t>(statistics.size());
    const auto maxTrials = static_cast<std::uint32_t>(std::max(settings_.gambleMaxTrials, 0));
    const auto trialsPerNode = static_cast<std::uint64_t>(std::max(settings_.gambleTrialsPerNode, 0));
    const auto trials = static_cast<std::uint32_t>(std::min<std::uint64_t>(maxTrials / n, trialsPerNode * n));

    // Each candidate keeps its own distribution for the whole call: Boost's generator makes its values in pairs.
    std::vector<boost::random::normal_distribution<double>> speeds;
    speeds.reserve(n);
    for (const auto& s : statistics) {
        const auto [mean, variance] = s->GetDistribution();
        speeds.emplace_back(mean, std::sqrt(std::max(variance, 0.0)));
    }

    std::vector<std::uint32_t> wins(n, 1);
    for (std::uint32_t trial = 0; trial < trials; ++trial) {
        double best = 0.0;
        std::size_t winner = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double sample = speeds[i](engine_);
            if (sample > best) {
                best = sample;
                winner = i;
            }
        }
        ++wins[winner];
    }

    std::vector<double> weights(n);
    for (std::size_t i = 0; i < n; ++i)
        weights[i] = wins[i] / (trials + 1.0);
    return weights;
}

void ProportionalGamblingTransferOptimizer::RecordResult(const OptimizedRequestParams& params,
                                                         const HttpTransferStatusData& statusData) {
    if (!params.SelectedNode) return;
    const auto& request = statusData.Status();
    const bool failed = static_cast<unsigned>(request.State) >= 4;
    HostStatistics(params.SelectedNode->GetHost())
        ->RecordRequest(request.BytesReceived, static_cast<std::uint32_t>(std::max(statusData.RequestTimeMs(), 0)),
                        failed);
}

}  // namespace qelt
