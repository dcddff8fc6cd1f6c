#pragma once

#include <boost/property_tree/json_parser.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analytics/work_log_manager.h"
#include "app/transfer_settings.h"
#include "http/http_proxy.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "manifest/node_list_manifest_factory.h"
#include "manifest/package_manifest_factory.h"
#include "selection/proportional_gambling_transfer_optimizer.h"
#include "storage/posix_shared_file.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_status_impl.h"
#include "transfer/transfer_work.h"
#include "work/asio_work_manager.h"
#include "work/workflow.h"

namespace qelt::test {

// Short limits, so that stalls and refusals end in a second or two, and four leaves in flight.
inline TransferSettings FastSettings() {
    TransferSettings settings(2);
    settings.manifestConnectTimeout = 2;
    settings.manifestTimeout = 5;
    settings.minConnectTimeout = 1;
    settings.maxConnectTimeout = 2;
    settings.exploreConnectTimeout = 1;
    settings.minLowSpeedTime = 1;
    settings.maxLowSpeedTime = 2;
    settings.exploreLowSpeedTime = 1;
    settings.minRequestTimeout = 2;
    settings.exploreMinRequestTimeout = 2;
    return settings;
}

// The status as its JSON description, for failure messages.
inline std::string Describe(const WorkStatus& status) {
    ptree tree;
    status.Describe(tree);
    std::ostringstream text;
    boost::property_tree::write_json(text, tree, false);
    return text.str();
}

// The process-wide services of transfers, real ones, pointed at a loopback manifest host: curl requests without
// a proxy, pooled sessions, POSIX files, XML manifest factories, a proportional gambling optimizer with a fixed
// seed and a pool of `threads` threads. Declared so that the pool stops (and its tasks let go of their works)
// before the services they use go away. A work log is used when a test sets one before the first transfer; there
// is no event manager.
class TestTransferServices {
public:
    TestTransferServices(const std::string& manifestHost, const TransferSettings& settings, unsigned threads = 6,
                         std::uint32_t seed = 7);
    TestTransferServices(const TestTransferServices&) = delete;
    TestTransferServices& operator=(const TestTransferServices&) = delete;

    // The environment a transfer is given, pointing at these services.
    TransferBehavior Behavior();

    TransferSettings settings;
    EmptyHttpProxyFactory proxies;
    CurlHttpRequestFactory requests{&proxies};
    RoundRobinHttpSessionFactory sessions;
    PosixSharedFileFactory files;
    XmlHttpPackageManifestFactory packages;
    XmlHttpNodeListManifestFactory nodeLists;
    ProportionalGamblingTransferOptimizer optimizer;
    std::unique_ptr<WorkLogManager> workLog;
    AsioWorkManager workManager;
};

// A small stand-in for the transfer behind its works: parameters, behaviour, the accepted package and node list,
// progress counted by a real TransferStatusImpl, and every milestone and retryable error recorded. The package
// (whose version then becomes the transfer's) and node list are accepted from successful milestones as the
// transfer would; tests building a sub-tree by hand set them directly. Every operation may be called from any
// thread.
class TestTransferWorkInterface : public TransferWorkInterface, public WorkflowRetryableErrorCallback {
public:
    struct Report {
        std::string milestone;     // "complete", "package", "nodeList", "initialize" or "retryableError"
        std::weak_ptr<Work> work;  // weak: the works hold this interface
        WorkStatus status;
    };

    TestTransferWorkInterface(TransferBehavior behavior, TransferParams params);

    TransferParams GetParams() override;
    const TransferParams* Params() override { return &params_; }
    TransferBehavior* GetBehavior() override { return &behavior_; }
    std::shared_ptr<PackageManifest> GetPackage() override;
    std::shared_ptr<NodeListManifest> GetNodeList() override;
    std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override { return status_; }
    WorkCompleteCallback* GetCompleteCallback() override { return &complete_; }
    WorkCompleteCallback* GetPackageCallback() override { return &package_; }
    WorkCompleteCallback* GetNodeListCallback() override { return &nodeList_; }
    WorkCompleteCallback* GetInitializeCallback() override { return &initialize_; }
    WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return this; }
    void RegisterCreatedFile(const std::string& relativePath) override;
    void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override;

    void SetPackage(std::shared_ptr<PackageManifest> package);
    void SetNodeList(std::shared_ptr<NodeListManifest> nodeList);

    std::vector<Report> Reports() const;
    // Waits for the count-th report of a milestone (1-based); nothing on timeout.
    std::optional<WorkStatus> WaitFor(const std::string& milestone, std::size_t count = 1,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    std::size_t CountOf(const std::string& milestone) const;
    std::vector<std::string> CreatedFiles() const;
    TransferStatus Status();

private:
    class Milestone : public WorkCompleteCallback {
    public:
        Milestone(TestTransferWorkInterface& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
        void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override {
            owner_.Record(name_, std::move(work), status);
        }

    private:
        TestTransferWorkInterface& owner_;
        std::string name_;
    };

    void Record(const std::string& milestone, std::shared_ptr<Work> work, const WorkStatus& status);

    TransferBehavior behavior_;
    TransferParams params_;
    const std::shared_ptr<TransferStatusImpl> status_;
    Milestone complete_{*this, "complete"};
    Milestone package_{*this, "package"};
    Milestone nodeList_{*this, "nodeList"};
    Milestone initialize_{*this, "initialize"};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<PackageManifest> acceptedPackage_;
    std::shared_ptr<NodeListManifest> acceptedNodeList_;
    std::vector<Report> reports_;
    std::vector<std::string> createdFiles_;
};

}  // namespace qelt::test
