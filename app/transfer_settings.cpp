#include "app/transfer_settings.h"

#include <algorithm>
#include <thread>

#include "app/launch_options.h"
#include "resources/deployment.h"

namespace qelt {

TransferSettings::TransferSettings(unsigned processors)
    : manifestHost(deployment::DefaultManifestHost()),
      transferThreads(std::max(processors, 1u) + 2),
      workflowParallelism(std::max(processors, 1u) + 2) {}

TransferSettings::TransferSettings() : TransferSettings(std::thread::hardware_concurrency()) {}

void ApplyLaunchOptions(TransferSettings& settings, const LaunchOptions& options) {
    if (!options.manifestHost.empty()) settings.manifestHost = options.manifestHost;
    settings.logLevel = options.logLevel;
    settings.transferThreads *= 2;
}

}  // namespace qelt
