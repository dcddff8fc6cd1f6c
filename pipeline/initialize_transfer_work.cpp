#include "pipeline/initialize_transfer_work.h"

#include <algorithm>
#include <new>

#include "base/version_placeholder.h"
#include "manifest/manifest_exception.h"
#include "manifest/node_list_manifest_factory.h"
#include "manifest/package_key.h"
#include "manifest/package_manifest_factory.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_package_work.h"
#include "pipeline/transfer_work_wiring.h"
#include "transfer/transfer_behavior.h"
#include "work/deferred_work.h"

namespace qelt {
namespace {

// How a manifest fetch failed, decided once for both manifest works: bytes that could not be obtained are worth
// another try, anything else about the document is not.
WorkStatus ManifestFailureStatus() {
    try {
        throw;
    } catch (const ManifestStreamException&) {
        return WorkStatus(WorkResult::RetryableError,
                          std::make_shared<TransferExceptionData>(TransferError::ConnectionError));
    } catch (const ManifestException&) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::ManifestError));
    } catch (const std::bad_alloc&) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::MemoryError));
    } catch (...) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::InternalError));
    }
}

unsigned ManifestRetries(TransferWorkInterface& iface) {
    return static_cast<unsigned>(std::max(iface.GetBehavior()->settings.manifestRetries, 0));
}

}  // namespace

InitializeTransferWork::InitializeTransferWork(std::shared_ptr<TransferWorkInterface> iface,
                                               std::shared_ptr<HttpSession> session,
                                               std::shared_ptr<DeferredWork> deferred)
    : TransferWork(std::move(iface)) {
    RegisterTransferObservers(*this, *iface_, iface_->GetInitializeCallback());
    AddWork(std::make_shared<GetManifestsWork>(iface_, session));
    AddWork(std::make_shared<ConstructTransferFromPackageWork>(iface_, session, std::move(deferred)));
}

void InitializeTransferWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "InitializeTransferWork", false, *iface_);
}

GetManifestsWork::GetManifestsWork(std::shared_ptr<TransferWorkInterface> iface,
                                   std::shared_ptr<HttpSession> session)
    : TransferWork(std::move(iface)) {
    RegisterTransferObservers(*this, *iface_);
    AddWork(std::make_shared<GetPackageManifestWork>(iface_, session));
    AddWork(std::make_shared<GetNodeListWork>(iface_, session));
}

void GetManifestsWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "GetManifestsWork", false, *iface_);
}

GetPackageManifestWork::GetPackageManifestWork(std::shared_ptr<TransferWorkInterface> iface,
                                               std::shared_ptr<HttpSession> session)
    : TransferWork(std::move(iface)),
      LimitedRetrySimpleWork(ManifestRetries(*iface_)),
      session_(std::move(session)) {
    RegisterRetryingTransferObservers(*this, *iface_, iface_->GetPackageCallback());
}

void GetPackageManifestWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "GetPackageManifestWork", true, *iface_);
}

WorkStatus GetPackageManifestWork::ExecuteTask() {
    try {
        const TransferParams params = iface_->GetParams();
        const std::string version = params.versionId == UnspecifiedVersion ? std::string() : params.versionId;
        auto package =
            iface_->GetBehavior()->packageManifestFactory->Create(MakeKey(params.packageId, version), session_);
        return WorkStatus(WorkResult::Success, std::make_shared<PackageStatusData>(std::move(package)));
    } catch (...) {
        return ManifestFailureStatus();
    }
}

GetNodeListWork::GetNodeListWork(std::shared_ptr<TransferWorkInterface> iface,
                                 std::shared_ptr<HttpSession> session)
    : TransferWork(std::move(iface)),
      LimitedRetrySimpleWork(ManifestRetries(*iface_)),
      session_(std::move(session)) {
    RegisterRetryingTransferObservers(*this, *iface_, iface_->GetNodeListCallback());
}

void GetNodeListWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "GetNodeListWork", true, *iface_);
}

WorkStatus GetNodeListWork::ExecuteTask() {
    try {
        const TransferParams params = iface_->GetParams();
        auto nodeList = iface_->GetBehavior()->nodeListManifestFactory->Create(params.partnerId, session_);
        return WorkStatus(WorkResult::Success, std::make_shared<NodeListStatusData>(std::move(nodeList)));
    } catch (...) {
        return ManifestFailureStatus();
    }
}

ConstructTransferFromPackageWork::ConstructTransferFromPackageWork(std::shared_ptr<TransferWorkInterface> iface,
                                                                   std::shared_ptr<HttpSession> session,
                                                                   std::shared_ptr<DeferredWork> deferred)
    : TransferWork(std::move(iface)), session_(std::move(session)), deferred_(std::move(deferred)) {
    RegisterTransferObservers(*this, *iface_);
}

void ConstructTransferFromPackageWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "ConstructTransferFromPackageWork", false, *iface_);
}

WorkStatus ConstructTransferFromPackageWork::ExecuteTask() {
    try {
        if (deferred_->SetWork(std::make_shared<TransferMultipleFilesWork>(iface_, session_)))
            return WorkStatus(WorkResult::Success);
        return WorkStatus(
            WorkResult::FatalError,
            std::make_shared<TransferErrorData>(
                TransferError::InternalError,
                "ConstructTransferFromPackageWork::ExecuteTask failed; DeferredWork already assigned"));
    } catch (...) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::InternalError));
    }
}

}  // namespace qelt
