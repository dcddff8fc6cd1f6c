#include "pipeline/transfer_package_work.h"

#include <stdexcept>

#include "http/http_session.h"
#include "pipeline/allow_execute_work.h"
#include "pipeline/initialize_transfer_work.h"
#include "pipeline/transfer_single_file_work.h"
#include "pipeline/transfer_work_wiring.h"
#include "transfer/transfer_behavior.h"
#include "work/deferred_work.h"

namespace qelt {

TransferPackageWork::TransferPackageWork(std::shared_ptr<TransferWorkInterface> iface)
    : TransferWork(std::move(iface)) {
    RegisterTransferObservers(*this, *iface_, iface_->GetCompleteCallback());
    // The children hold the session and the slot from here on.
    const std::shared_ptr<HttpSession> session = iface_->GetBehavior()->httpSessionFactory->Create();
    auto deferred = std::make_shared<DeferredWork>();
    AddWork(std::make_shared<InitializeTransferWork>(iface_, session, deferred));
    AddWork(deferred);
    AddWork(std::make_shared<AllowExecuteWork>(iface_));
}

void TransferPackageWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "TransferPackageWork", true, *iface_);
}

TransferMultipleFilesWork::TransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> iface,
                                                     std::shared_ptr<HttpSession> session)
    : TransferWork(std::move(iface)) {
    const std::shared_ptr<PackageManifest> package = iface_->GetPackage();
    if (!package) throw std::logic_error("TransferMultipleFilesWork constructed without a package");
    if (package->GetRunFiles().empty() && package->GetOtherFiles().empty())
        throw std::logic_error("TransferMultipleFilesWork constructed with empty file set");
    RegisterTransferObservers(*this, *iface_);
    if (!package->GetRunFiles().empty())
        AddWork(std::make_shared<SequentialTransferMultipleFilesWork>(iface_, session, package->GetRunFiles()));
    if (!package->GetOtherFiles().empty())
        AddWork(std::make_shared<ParallelTransferMultipleFilesWork>(iface_, session, package->GetOtherFiles()));
}

void TransferMultipleFilesWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "TransferMultipleFilesWork", false, *iface_);
}

SequentialTransferMultipleFilesWork::SequentialTransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
    const FileManifestList& files)
    : TransferWork(std::move(iface)) {
    if (files.empty())
        throw std::logic_error("SequentialTransferMultipleFilesWork constructed with empty cluster");
    RegisterTransferObservers(*this, *iface_);
    for (const auto& file : files)
        AddWork(std::make_shared<TransferSingleFileWork>(iface_, session, *file));
}

void SequentialTransferMultipleFilesWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "SequentialTransferMultipleFilesWork", true, *iface_);
}

ParallelTransferMultipleFilesWork::ParallelTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> iface,
                                                                     std::shared_ptr<HttpSession> session,
                                                                     const FileManifestList& files)
    : TransferWork(std::move(iface)) {
    if (files.empty()) throw std::logic_error("ParallelTransferMultipleFilesWork constructed with empty cluster");
    RegisterTransferObservers(*this, *iface_);
    for (const auto& file : files)
        AddWork(std::make_shared<TransferSingleFileWork>(iface_, session, *file));
}

void ParallelTransferMultipleFilesWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "ParallelTransferMultipleFilesWork", true, *iface_);
}

}  // namespace qelt
