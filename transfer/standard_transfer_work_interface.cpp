#include "transfer/standard_transfer_work_interface.h"

#include "transfer/standard_transfer.h"
#include "transfer/transfer_status_impl.h"

namespace qelt {

void StandardTransferWorkInterface::InternalCallback::OnWorkComplete(std::shared_ptr<Work> work,
                                                                     const WorkStatus& status) {
    function_(std::move(work), status);
}

StandardTransferWorkInterface::StandardTransferWorkInterface(StandardTransfer* transfer,
                                                             std::shared_ptr<std::recursive_mutex> mutex,
                                                             std::shared_ptr<StandardTransferData> data)
    : transfer_(transfer),
      mutex_(std::move(mutex)),
      data_(std::move(data)),
      completeCallback_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          ForwardComplete(std::move(work), status);
      }),
      packageCallback_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          ForwardPackage(std::move(work), status);
      }),
      nodeListCallback_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          ForwardNodeList(std::move(work), status);
      }),
      initializeCallback_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          ForwardInitialize(std::move(work), status);
      }) {}

template <typename Handler>
void StandardTransferWorkInterface::Forward(Handler&& handler) {
    Lock lock(*mutex_);
    if (!connected_) return;
    // The handler may release the lock before it fires an event; the transfer may be gone once it has.
    handler(lock);
}

void StandardTransferWorkInterface::ForwardComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    Forward([&](Lock& lock) { transfer_->OnWorkComplete(lock, std::move(work), status); });
}

void StandardTransferWorkInterface::ForwardPackage(std::shared_ptr<Work> work, const WorkStatus& status) {
    Forward([&](Lock& lock) { transfer_->OnPackageAcquire(lock, std::move(work), status); });
}

void StandardTransferWorkInterface::ForwardNodeList(std::shared_ptr<Work> work, const WorkStatus& status) {
    Forward([&](Lock& lock) { transfer_->OnNodeListAcquire(lock, std::move(work), status); });
}

void StandardTransferWorkInterface::ForwardInitialize(std::shared_ptr<Work> work, const WorkStatus& status) {
    Forward([&](Lock& lock) { transfer_->OnInitialize(lock, std::move(work), status); });
}

void StandardTransferWorkInterface::OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                                             std::shared_ptr<Work> work,
                                                             const WorkStatus& status) {
    Forward([&](Lock& lock) {
        transfer_->OnWorkflowRetryableError(lock, std::move(workflow), std::move(work), status);
    });
}

void StandardTransferWorkInterface::RegisterCreatedFile(const std::string& relativePath) {
    Forward([&](Lock& lock) { transfer_->RegisterCreatedFile(lock, relativePath); });
}

void StandardTransferWorkInterface::Disconnect() {
    Lock lock(*mutex_);
    connected_ = false;
}

TransferParams StandardTransferWorkInterface::GetParams() {
    Lock lock(*mutex_);
    return data_->params;
}

const TransferParams* StandardTransferWorkInterface::Params() {
    return &data_->params;
}

TransferBehavior* StandardTransferWorkInterface::GetBehavior() {
    return &data_->behavior;
}

std::shared_ptr<PackageManifest> StandardTransferWorkInterface::GetPackage() {
    return data_->package;
}

std::shared_ptr<NodeListManifest> StandardTransferWorkInterface::GetNodeList() {
    return data_->nodeList;
}

std::shared_ptr<TransferProgressUpdater> StandardTransferWorkInterface::GetProgressUpdater() {
    return data_->status;
}

}  // namespace qelt
