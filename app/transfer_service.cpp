#include "app/transfer_service.h"

#include "resources/deployment.h"

namespace qelt {
namespace {

HttpProxyTimeouts ProxyTimeouts(const TransferSettings& settings) {
    HttpProxyTimeouts timeouts;
    timeouts.resolveMs = settings.proxyResolveTimeoutMs;
    timeouts.connectMs = settings.proxyConnectTimeoutMs;
    timeouts.sendMs = settings.proxySendTimeoutMs;
    timeouts.receiveMs = settings.proxyReceiveTimeoutMs;
    return timeouts;
}

// The status answered when no transfer could be made.
TransferStatus NoTransferCreated() {
    TransferStatus status = FreshTransferStatus("", TransferState::Unknown);
    status.destPath = UnspecifiedVersion;
    status.error = TransferError::InternalError;
    return status;
}

}  // namespace

DeploymentValues CompiledDeploymentValues() {
    return {std::string(deployment::AnalyticsEventsHost()), std::string(deployment::AnalyticsTransferHost())};
}

TransferService::TransferService(const TransferSettings& settings, const DeploymentValues& deployment)
    : proxies_(ProxyTimeouts(settings)),
      requests_(&proxies_),
      packages_(settings.manifestHost, &requests_, settings.manifestConnectTimeout, settings.manifestTimeout),
      nodeLists_(settings.manifestHost, &requests_, settings.manifestConnectTimeout, settings.manifestTimeout),
      store_(settings.transfersFolder, &files_),
      transferFactory_(&store_, &workflows_),
      transfers_(&store_, &transferFactory_),
      optimizer_(settings),
      analytics_(&requests_, &sessions_, settings, deployment.analyticsEventsHost,
                 deployment.analyticsTransferHost),
      workLog_(settings.logLevel, settings.logsFolder, &files_, &sessions_),
      workManager_(settings.transferThreads) {
    behavior_.settings = settings;
    behavior_.httpSessionFactory = &sessions_;
    behavior_.httpRequestFactory = &requests_;
    behavior_.sharedFileFactory = &files_;
    behavior_.packageManifestFactory = &packages_;
    behavior_.nodeListManifestFactory = &nodeLists_;
    behavior_.transferManager = &transfers_;
    behavior_.transferOptimizer = &optimizer_;
    // Transfers without an event manager post nothing; an empty host would only make failing requests.
    const bool analytics = !deployment.analyticsEventsHost.empty() || !deployment.analyticsTransferHost.empty();
    behavior_.eventManager = analytics ? &analytics_ : nullptr;
    behavior_.workLogManager = &workLog_;
    behavior_.workManager = &workManager_;
}

TransferService::~TransferService() {
    transfers_.Shutdown();
}

TransferStatus TransferService::CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                               const std::string& versionId) {
    try {
        TransferParams params;
        params.partnerId = partnerId;
        params.packageId = packageId;
        params.versionId = versionId;
        const std::shared_ptr<Transfer> transfer = transfers_.CreateTransfer(params, behavior_);
        if (transfer) return transfer->Initialize();
    } catch (...) {
        // Out of memory or entropy: no transfer, as when the manager makes none.
    }
    return NoTransferCreated();
}

TransferStatus TransferService::StartTransfer(const std::string& transferId, const std::string& destination) {
    try {
        if (const auto transfer = transfers_.FindTransfer(transferId, behavior_))
            return transfer->Start(destination);
    } catch (...) {
        // Answered as an unknown transfer.
    }
    return FreshTransferStatus(transferId, TransferState::Unknown);
}

TransferStatus TransferService::GetTransferStatus(const std::string& transferId) {
    try {
        if (const auto transfer = transfers_.FindTransfer(transferId, behavior_)) return transfer->Update();
    } catch (...) {
        // Answered as an unknown transfer.
    }
    return FreshTransferStatus(transferId, TransferState::Unknown);
}

}  // namespace qelt
