#include "tests/support/test_transfer.h"

#include <algorithm>

#include "manifest/package_manifest.h"
#include "pipeline/status_data.h"

namespace qelt::test {

TestTransferServices::TestTransferServices(const std::string& manifestHost, const TransferSettings& settings,
                                           unsigned threads, std::uint32_t seed)
    : settings(settings),
      packages(manifestHost, &requests, settings.manifestConnectTimeout, settings.manifestTimeout),
      nodeLists(manifestHost, &requests, settings.manifestConnectTimeout, settings.manifestTimeout),
      optimizer(settings, seed),
      workManager(threads) {}

TransferBehavior TestTransferServices::Behavior() {
    TransferBehavior behavior;
    behavior.settings = settings;
    behavior.httpSessionFactory = &sessions;
    behavior.httpRequestFactory = &requests;
    behavior.sharedFileFactory = &files;
    behavior.packageManifestFactory = &packages;
    behavior.nodeListManifestFactory = &nodeLists;
    behavior.transferOptimizer = &optimizer;
    behavior.workLogManager = workLog.get();
    behavior.workManager = &workManager;
    return behavior;
}

TestTransferWorkInterface::TestTransferWorkInterface(TransferBehavior behavior, TransferParams params)
    : behavior_(std::move(behavior)),
      params_(std::move(params)),
      status_(std::make_shared<TransferStatusImpl>(&params_, 10, 500)) {}

TransferParams TestTransferWorkInterface::GetParams() {
    std::lock_guard lock(mutex_);
    return params_;
}

std::shared_ptr<PackageManifest> TestTransferWorkInterface::GetPackage() {
    std::lock_guard lock(mutex_);
    return acceptedPackage_;
}

std::shared_ptr<NodeListManifest> TestTransferWorkInterface::GetNodeList() {
    std::lock_guard lock(mutex_);
    return acceptedNodeList_;
}

void TestTransferWorkInterface::SetPackage(std::shared_ptr<PackageManifest> package) {
    std::lock_guard lock(mutex_);
    acceptedPackage_ = std::move(package);
    if (!acceptedPackage_) return;
    params_.versionId = acceptedPackage_->GetVersionId();
    status_->SetPackage(*acceptedPackage_);
}

void TestTransferWorkInterface::SetNodeList(std::shared_ptr<NodeListManifest> nodeList) {
    std::lock_guard lock(mutex_);
    acceptedNodeList_ = std::move(nodeList);
}

void TestTransferWorkInterface::Record(const std::string& milestone, std::shared_ptr<Work> work,
                                       const WorkStatus& status) {
    if (status.result == WorkResult::Success) {
        if (auto package = std::dynamic_pointer_cast<PackageStatusData>(status.data);
            package && package->Package())
            SetPackage(std::const_pointer_cast<PackageManifest>(package->Package()));
        if (auto nodes = std::dynamic_pointer_cast<NodeListStatusData>(status.data); nodes && nodes->NodeList())
            SetNodeList(nodes->NodeList());
    }
    std::lock_guard lock(mutex_);
    reports_.push_back({milestone, std::move(work), status});
    changed_.notify_all();
}

void TestTransferWorkInterface::OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<Work> work,
                                                         const WorkStatus& status) {
    Record("retryableError", std::move(work), status);
}

void TestTransferWorkInterface::RegisterCreatedFile(const std::string& relativePath) {
    std::lock_guard lock(mutex_);
    createdFiles_.push_back(relativePath);
}

std::vector<TestTransferWorkInterface::Report> TestTransferWorkInterface::Reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::size_t TestTransferWorkInterface::CountOf(const std::string& milestone) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(reports_.begin(), reports_.end(),
                                                  [&](const Report& r) { return r.milestone == milestone; }));
}

std::optional<WorkStatus> TestTransferWorkInterface::WaitFor(const std::string& milestone, std::size_t count,
                                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    std::optional<WorkStatus> found;
    changed_.wait_for(lock, timeout, [&] {
        std::size_t seen = 0;
        for (const auto& report : reports_) {
            if (report.milestone == milestone && ++seen == count) {
                found = report.status;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<std::string> TestTransferWorkInterface::CreatedFiles() const {
    std::lock_guard lock(mutex_);
    return createdFiles_;
}

TransferStatus TestTransferWorkInterface::Status() {
    std::lock_guard lock(mutex_);
    TransferStatus status;
    status_->GetStatus(status);
    return status;
}

}  // namespace qelt::test
