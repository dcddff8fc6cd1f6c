#pragma once

#include <cstdint>
#include <string>

namespace qelt {

struct LaunchOptions;

// The tuning record every subsystem reads: built once at start-up and copied whole where it is needed.
// Times are in seconds unless the name says otherwise.
struct TransferSettings {
    // Sets both thread fields to max(processors, 1) + 2.
    explicit TransferSettings(unsigned processors);
    // As above with the number of logical processors the platform reports.
    TransferSettings();

    std::string manifestHost;
    std::string transfersFolder = "Orvane Technologies/Quorvel/transfers";
    std::string logsFolder = "Orvane Technologies/Quorvel/logs";
    std::int32_t logLevel = -9;
    std::int32_t manifestRetries = 4;
    std::int32_t manifestConnectTimeout = 10;
    std::int32_t manifestTimeout = 30;
    std::int32_t chunkRetries = 4;
    std::int32_t requestRetries = 4;
    std::int32_t minConnectTimeout = 3;
    std::int32_t maxConnectTimeout = 15;
    std::int32_t exploreConnectTimeout = 2;
    std::int32_t minRequestTimeout = 10;
    std::int32_t exploreMinRequestTimeout = 3;
    std::int32_t minSpeed = 7168;          // bytes per second, shared among transferThreads
    std::int32_t exploreMinSpeed = 32768;  // bytes per second, shared among transferThreads
    std::int32_t minLowSpeedTime = 5;
    std::int32_t maxLowSpeedTime = 60;
    std::int32_t exploreLowSpeedTime = 3;
    std::int32_t rateWindow = 10;
    std::int32_t estimateInterval = 500;  // milliseconds of active time
    std::uint32_t transferThreads;
    std::uint32_t workflowParallelism;
    std::int32_t proxyResolveTimeoutMs = 5000;
    std::int32_t proxyConnectTimeoutMs = 5000;
    std::int32_t proxySendTimeoutMs = 5000;
    std::int32_t proxyReceiveTimeoutMs = 5000;
    std::int32_t analyticsConnectTimeout = 10;
    std::int32_t analyticsTimeout = 10;
    std::int32_t analyticsRetries = 1;
    std::int32_t periodicEventInterval = 300;
    std::int32_t gambleTrialsPerNode = 50;
    std::int32_t gambleMaxTrials = 10000;
    double statisticsSmoothing = 0.3;
};

// Start-up step 2 after the defaults: the configured manifest host replaces the default, the log level is taken
// over, and the transfer pool gets twice the workflow's parallelism.
void ApplyLaunchOptions(TransferSettings& settings, const LaunchOptions& options);

}  // namespace qelt
