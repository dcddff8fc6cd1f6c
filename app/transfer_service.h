#pragma once

#include <string>

#include "analytics/json_http_analytics_manager.h"
#include "analytics/json_work_log_manager.h"
#include "app/transfer_monitor.h"
#include "app/transfer_settings.h"
#include "http/environment_http_proxy_factory.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "manifest/node_list_manifest_factory.h"
#include "manifest/package_manifest_factory.h"
#include "selection/proportional_gambling_transfer_optimizer.h"
#include "storage/posix_shared_file.h"
#include "transfer/manifest_store.h"
#include "transfer/stored_transfer.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_manager.h"
#include "transfer/transfer_manifest.h"
#include "transfer/transfer_workflow_factory.h"
#include "work/asio_work_manager.h"

namespace qelt {

// The values of a deployment the service needs beside the settings: where analytics go. The entry routine takes
// them from what was compiled in; tests point them at loopback servers. With both hosts empty no analytics are
// posted at all (tools that must not contact anyone unasked).
struct DeploymentValues {
    std::string analyticsEventsHost;
    std::string analyticsTransferHost;
};

// The analytics hosts compiled into the program.
DeploymentValues CompiledDeploymentValues();

// The composition root of the transfer engine: one instance of every factory and manager, each built from the
// settings and the members before it, in the order they are declared. The dialog and the monitor use the three
// operations, which may be called from any thread and never throw.
//
// Destruction first suspends every transfer (so running works let go of their requests and files), then destroys
// the members in reverse order: the transfer pool first, whose threads finish the works already running, then the
// work log and the analytics manager, which deliver what was submitted, and so on back to the session factory.
class TransferService : public TransferStatusSource {
public:
    TransferService(const TransferSettings& settings, const DeploymentValues& deployment);
    TransferService(const TransferService&) = delete;
    TransferService& operator=(const TransferService&) = delete;
    ~TransferService() override;

    // A new transfer of that package, initialised; its status. Without one (after shutdown, or when none could be
    // made) the status has an empty id, "?" in the ids and the destination, state Unknown and InternalError.
    TransferStatus CreateTransfer(const std::string& partnerId, const std::string& packageId,
                                  const std::string& versionId);
    // Starts the transfer of that id (restoring it from its record when it is not live) into `destination`. An id
    // without a transfer answers a fresh status of that id in state Unknown, without error.
    TransferStatus StartTransfer(const std::string& transferId, const std::string& destination);
    // The transfer's status, with its periodic event when one is due; for an unknown id as StartTransfer.
    TransferStatus GetTransferStatus(const std::string& transferId) override;

    // The services as a transfer is given them, for the entry routine and tools that drive transfers directly.
    const TransferBehavior& Behavior() const { return behavior_; }
    TransferManager& Transfers() { return transfers_; }
    const std::string& TransfersFolder() const { return store_.Folder(); }

private:
    RoundRobinHttpSessionFactory sessions_;
    EnvironmentHttpProxyFactory proxies_;
    CurlHttpRequestFactory requests_;
    PosixSharedFileFactory files_;
    XmlHttpPackageManifestFactory packages_;
    XmlHttpNodeListManifestFactory nodeLists_;
    StandardTransferWorkflowFactory workflows_;
    JsonTempFileManifestStore<TransferManifest> store_;
    StoredTransferFactory transferFactory_;
    TempFileTransferManager transfers_;
    ProportionalGamblingTransferOptimizer optimizer_;
    JsonHttpAnalyticsManager analytics_;
    JsonWorkLogManager workLog_;
    AsioWorkManager workManager_;
    TransferBehavior behavior_;
};

}  // namespace qelt
