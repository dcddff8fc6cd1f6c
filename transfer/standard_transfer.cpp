#include "transfer/standard_transfer.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <filesystem>
#include <system_error>

#include "analytics/json_writer.h"
#include "analytics/transfer_event.h"
#include "base/path_rule.h"
#include "base/version_placeholder.h"
#include "manifest/file_manifest.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "manifest/package_manifest.h"
#include "pipeline/status_data.h"
#include "selection/transfer_optimizer.h"
#include "storage/shared_file.h"
#include "transfer/standard_transfer_work_interface.h"
#include "transfer/transfer_status_impl.h"
#include "transfer/transfer_workflow_factory.h"
#include "work/workflow.h"

namespace qelt {
namespace {

bool IsInitializing(TransferState state) {
    return state == TransferState::Initializing || state == TransferState::InitializingPaused;
}

unsigned NonNegative(std::int32_t value) {
    return static_cast<unsigned>(std::max(value, 0));
}

// Free bytes for the user on the volume that holds `path`, or on that of its nearest existing parent when the
// folder is still to be created; 0 when nothing can be measured.
std::uint64_t AvailableBytes(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path probe = std::filesystem::absolute(path, error);
    if (error) return 0;
    while (!std::filesystem::exists(probe, error)) {
        if (!probe.has_relative_path()) return 0;
        probe = probe.parent_path();
    }
    const std::filesystem::space_info space = std::filesystem::space(probe, error);
    return error ? 0 : space.available;
}

std::uint64_t ExistingFileSize(const std::string& folder, const std::string& relativePath) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(ResolvePath(folder, relativePath), error);
    return error ? 0 : size;
}

}  // namespace

StandardTransferData::StandardTransferData(const TransferParams& params, const TransferBehavior& behavior)
    : params(params),
      behavior(behavior),
      status(std::make_shared<TransferStatusImpl>(&this->params, NonNegative(behavior.settings.rateWindow),
                                                  NonNegative(behavior.settings.estimateInterval),
                                                  behavior.clock)) {}

StandardTransfer::StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                                   TransferWorkflowFactory* workflowFactory)
    : workflowFactory_(workflowFactory) {
    Lock lock(*mutex_);
    CreateData(params, behavior);
    CreateWorkflow();
    // The workflow is kept, unstarted, for Restore.
    if (params.suspended) data_->status->Record().state = TransferState::Suspended;
}

StandardTransfer::~StandardTransfer() {
    DisconnectWorks();
}

void StandardTransfer::DisconnectWorks() noexcept {
    std::shared_ptr<Workflow> workflow;
    try {
        Lock lock(*mutex_);
        if (workInterface_) workInterface_->Disconnect();
        workflow = std::move(workflow_);
        if (workflow) workflow->Pause();
    } catch (...) {
        // Nothing is left to tell; the disconnected interface already drops every later report.
    }
}

TransferStatus StandardTransfer::Guarded(const std::function<TransferStatus(Lock&)>& operation) noexcept {
    try {
        Lock lock(*mutex_);
        return operation(lock);
    } catch (...) {
        // Lack of memory, or a workflow that could not queue its works: the transfer stays as it is.
    }
    try {
        Lock lock(*mutex_);
        return GetStatus(lock);
    } catch (...) {
        return TransferStatus();
    }
}

TransferStatus StandardTransfer::Initialize() {
    return Guarded([this](Lock& lock) { return DoInitialize(lock); });
}

TransferStatus StandardTransfer::Start(const std::string& destPath) {
    return Guarded([&](Lock& lock) { return DoStart(lock, destPath); });
}

TransferStatus StandardTransfer::Cancel(bool discardFiles) {
    return Guarded([&](Lock& lock) { return DoCancel(lock, discardFiles); });
}

TransferStatus StandardTransfer::Pause() {
    return Guarded([this](Lock& lock) { return DoPause(lock); });
}

TransferStatus StandardTransfer::Resume() {
    return Guarded([this](Lock& lock) { return DoResume(lock); });
}

TransferStatus StandardTransfer::Retry() {
    return Guarded([this](Lock& lock) { return DoRetry(lock); });
}

TransferStatus StandardTransfer::Suspend() {
    return Guarded([this](Lock& lock) { return DoSuspend(lock); });
}

TransferStatus StandardTransfer::Restore() {
    return Guarded([this](Lock& lock) { return DoRestore(lock); });
}

TransferStatus StandardTransfer::Update() {
    return Guarded([this](Lock& lock) {
        // Decided on the active time counted up to the previous poll, before this poll's status adds the time
        // since then; that time is reported by the next period.
        const std::uint64_t intervalMs =
            static_cast<std::uint64_t>(NonNegative(data_->behavior.settings.periodicEventInterval)) * 1000;
        if (data_->status->ActiveSinceMark() <= intervalMs) return GetStatus(lock);
        return FinishWithEvent(lock, std::make_unique<TransferPeriodicEvent>(*workInterface_, *data_->status));
    });
}

bool StandardTransfer::HasSufficientSpace(const std::string& destPath) {
    try {
        Lock lock(*mutex_);
        const std::shared_ptr<PackageManifest> package = data_->package;
        if (State() != TransferState::Initialized || !package) return false;
        std::uint64_t present = 0;
        for (const auto& file : package->GetFiles())
            present += ExistingFileSize(destPath, file->GetPath());
        return present + AvailableBytes(destPath) >= data_->status->Record().bytesTotal;
    } catch (...) {
        return false;
    }
}

std::shared_ptr<TransferWorkInterface> StandardTransfer::GetWorkInterface() {
    try {
        Lock lock(*mutex_);
        return workInterface_;
    } catch (...) {
        return nullptr;
    }
}

std::string StandardTransfer::GetNodesJson() {
    try {
        Lock lock(*mutex_);
        const std::shared_ptr<NodeListManifest> nodeList = data_->nodeList;
        if (!nodeList || nodeList->GetNodes().empty()) return "[]";
        TransferOptimizer* optimizer = data_->behavior.transferOptimizer;
        ptree array;
        for (const auto& node : nodeList->GetNodes()) {
            const auto statistics = optimizer ? optimizer->GetStatistics(*node) : node->GetStatistics();
            ptree entry;
            node->CloneWithStatistics(statistics)->Serialize(entry);
            array.push_back({"", entry});
        }
        std::string text = ToJsonText(array);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    } catch (...) {
        return "[]";
    }
}

TransferStatus StandardTransfer::GetStatus(Lock&) {
    TransferStatus status;
    data_->status->GetStatus(status);
    return status;
}

TransferStatus StandardTransfer::DoInitialize(Lock& lock) {
    if (State() != TransferState::Initializing || HasError() || !workflow_ || !workflow_->Start())
        return GetStatus(lock);
    return FinishWithEvent(lock, std::make_unique<TransferInitializeEvent>(*workInterface_));
}

TransferStatus StandardTransfer::DoStart(Lock& lock, const std::string& destPath) {
    if (!ValidateDestination(destPath) || State() != TransferState::Initialized || HasError() || !workflow_)
        return GetStatus(lock);
    if (data_->params.destPath == UnspecifiedVersion) data_->params.destPath = destPath;
    data_->status->Record().state = TransferState::Transferring;
    workflow_->Resume();
    return FinishWithEvent(lock, std::make_unique<TransferStartEvent>(*workInterface_));
}

TransferStatus StandardTransfer::DoCancel(Lock& lock, bool discardFiles) {
    // A suspended transfer keeps its files for a later run, whatever the caller asks.
    if (discardFiles && !(State() == TransferState::Suspended && !HasError())) {
        data_->discardFiles = true;
        DeleteCreatedFiles();
    }
    if (IsInactive(State()) || HasFatalError()) return GetStatus(lock);
    SetState(TransferState::Cancelled);
    return FinishWithEvent(lock, std::make_unique<TransferCancelEvent>(*workInterface_, *data_->status));
}

TransferStatus StandardTransfer::DoPause(Lock& lock) {
    const TransferState state = State();
    if ((state != TransferState::Initializing && state != TransferState::Transferring) || !workflow_ ||
        !workflow_->Pause())
        return GetStatus(lock);
    data_->status->Record().state = state == TransferState::Initializing ? TransferState::InitializingPaused
                                                                         : TransferState::TransferringPaused;
    return FinishWithEvent(lock, std::make_unique<TransferPauseEvent>(*workInterface_));
}

TransferStatus StandardTransfer::DoResume(Lock& lock) {
    const TransferState state = State();
    if ((state != TransferState::InitializingPaused && state != TransferState::TransferringPaused) || !workflow_ ||
        !workflow_->Resume())
        return GetStatus(lock);
    data_->status->Record().state =
        state == TransferState::InitializingPaused ? TransferState::Initializing : TransferState::Transferring;
    return FinishWithEvent(lock, std::make_unique<TransferResumeEvent>(*workInterface_));
}

TransferStatus StandardTransfer::DoRetry(Lock& lock) {
    if (!data_->status->Record().HasRetryableError() || !workflow_ || !workflow_->ResumeAfterError())
        return GetStatus(lock);
    data_->status->Record().error = TransferError::None;
    data_->status->Record().errorRetryable = false;
    return FinishWithEvent(lock, std::make_unique<TransferRetryEvent>(*workInterface_));
}

TransferStatus StandardTransfer::DoSuspend(Lock& lock) {
    const TransferState state = State();
    const bool notStarted = state == TransferState::Initializing || state == TransferState::InitializingPaused ||
                            state == TransferState::Initialized;
    // A transfer that never moved a file has nothing worth keeping.
    if (!data_->params.suspended && notStarted) return DoCancel(lock, false);
    const bool cleanlyComplete = state == TransferState::Complete && !HasError();
    if ((IsInactive(state) || HasFatalError()) && !cleanlyComplete) return GetStatus(lock);

    // Built from the run that ends, so that it reports that run's traffic; the fresh data below has none.
    std::unique_ptr<TransferEvent> event;
    if (!cleanlyComplete) event = std::make_unique<TransferSuspendEvent>(*workInterface_, *data_->status);
    TransferParams params = data_->params;
    params.suspended = true;
    const TransferBehavior behavior = data_->behavior;
    CreateData(params, behavior);
    SetState(TransferState::Suspended);
    if (!event) return GetStatus(lock);
    return FinishWithEvent(lock, std::move(event));
}

TransferStatus StandardTransfer::DoRestore(Lock& lock) {
    if (State() != TransferState::Suspended || HasError()) return GetStatus(lock);
    CreateWorkflow();
    workflow_->Start();
    data_->status->Record().state = TransferState::Initializing;
    return FinishWithEvent(lock, std::make_unique<TransferRestoreEvent>(*workInterface_));
}

void StandardTransfer::OnWorkComplete(Lock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IgnoresReports()) return;
    if (status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError) return;
    if (status.result == WorkResult::Success) {
        if (!IsProgressComplete()) {
            FailTransfer(lock, "Transfer::OnWorkComplete called with Success result but progress is not complete",
                         TransferError::InternalError);
            return;
        }
        SetState(TransferState::Complete);
        FireAfterRelease(lock, std::make_unique<TransferCompleteEvent>(*workInterface_, *data_->status));
        return;
    }
    const auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    if (!data) {
        FailTransfer(lock, "Transfer::OnWorkComplete called with error result but data is not TransferStatusData",
                     TransferError::InternalError);
        return;
    }
    const TransferError error = data->ToTransferError();
    if (error == TransferError::None) {
        FailTransfer(lock, "Transfer::OnWorkComplete called with error result but data->ToTransferError() is None",
                     TransferError::InternalError);
        return;
    }
    SetError(error);
    FireAfterRelease(lock,
                     std::make_unique<TransferFatalErrorEvent>(*workInterface_, status.data, *data_->status));
}

void StandardTransfer::OnPackageAcquire(Lock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IgnoresReports() || status.result != WorkResult::Success) return;
    if (!IsInitializing(State())) {
        FailTransfer(lock, "Transfer::OnPackageAcquire called but transfer is not initializing",
                     TransferError::InternalError);
        return;
    }
    const auto data = std::dynamic_pointer_cast<PackageStatusData>(status.data);
    if (!data || !data->Package()) {
        FailTransfer(lock,
                     "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null",
                     TransferError::InternalError);
        return;
    }
    const auto& package = data->Package();
    if (package->GetPartnerId() != data_->params.partnerId || package->GetId() != data_->params.packageId) {
        FailTransfer(lock, "Transfer::OnPackageAcquire called but package does not match ids",
                     TransferError::ManifestError);
        return;
    }
    data_->package = std::const_pointer_cast<PackageManifest>(package);
    data_->params.versionId = package->GetVersionId();
}

void StandardTransfer::OnNodeListAcquire(Lock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IgnoresReports() || status.result != WorkResult::Success) return;
    if (!IsInitializing(State())) {
        FailTransfer(lock, "Transfer::OnNodeListAcquire called but transfer is not initializing",
                     TransferError::InternalError);
        return;
    }
    const auto data = std::dynamic_pointer_cast<NodeListStatusData>(status.data);
    if (!data || !data->NodeList()) {
        FailTransfer(lock,
                     "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is null",
                     TransferError::InternalError);
        return;
    }
    data_->nodeList = data->NodeList();
}

void StandardTransfer::OnInitialize(Lock& lock, std::shared_ptr<Work>, const WorkStatus& status) {
    if (IgnoresReports() || status.result != WorkResult::Success) return;
    if (!IsInitializing(State())) {
        FailTransfer(lock, "Transfer::OnInitialize called but transfer is not initializing",
                     TransferError::InternalError);
        return;
    }
    if (!data_->package || !data_->nodeList) {
        FailTransfer(lock,
                     data_->package ? "Transfer::OnInitialize called but nodelist is missing"
                                    : "Transfer::OnInitialize called but package is missing",
                     TransferError::InternalError);
        return;
    }
    data_->status->Record().state = TransferState::Initialized;
    data_->status->SetPackage(*data_->package);
    // Nothing more runs until Start names the destination.
    if (workflow_) workflow_->Pause();
    FireAfterRelease(lock, std::make_unique<TransferInitializeCompleteEvent>(*workInterface_));
}

void StandardTransfer::OnWorkflowRetryableError(Lock& lock, std::shared_ptr<Workflow> workflow,
                                                std::shared_ptr<Work>, const WorkStatus& status) {
    if (IgnoresReports() || HasError()) return;
    if (workflow != workflow_) {
        FailTransfer(lock, "Transfer::OnWorkflowRetryableError called on wrong workflow",
                     TransferError::InternalError);
        return;
    }
    if (status.result != WorkResult::RetryableError || status.retry) {
        FailTransfer(lock, "Transfer::OnWorkflowRetryableError called with incorrect status",
                     TransferError::InternalError);
        return;
    }
    const auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    if (!data) {
        FailTransfer(lock, "Transfer::OnWorkflowRetryableError called with invalid data",
                     TransferError::InternalError);
        return;
    }
    const TransferError error = data->ToTransferError();
    if (error == TransferError::None) {
        FailTransfer(lock, "Transfer::OnWorkflowRetryableError called with TransferError::None",
                     TransferError::InternalError);
        return;
    }
    // The workflow has paused itself; it waits for Retry.
    data_->status->Record().error = error;
    data_->status->Record().errorRetryable = true;
    FireAfterRelease(lock,
                     std::make_unique<TransferRetryableErrorEvent>(*workInterface_, status.data, *data_->status));
}

void StandardTransfer::RegisterCreatedFile(Lock&, const std::string& relativePath) {
    if (data_->discardFiles) {
        DeleteDestinationFile(relativePath);
    } else {
        data_->createdFiles.insert(relativePath);
    }
}

void StandardTransfer::CreateData(const TransferParams& params, const TransferBehavior& behavior) {
    if (workInterface_) workInterface_->Disconnect();
    data_ = std::make_shared<StandardTransferData>(params, behavior);
    workInterface_ = std::make_shared<StandardTransferWorkInterface>(this, mutex_, data_);
}

void StandardTransfer::CreateWorkflow() {
    if (workflow_) return;
    workflow_ = workflowFactory_->CreateWorkflow(workInterface_);
    workflow_->AddRetryableErrorCallback(workInterface_.get());
}

void StandardTransfer::SetState(TransferState state) {
    data_->status->Record().state = state;
    // Dropping the workflow may destroy its tree here; the file works then report their files re-entrantly.
    if (std::shared_ptr<Workflow> workflow = std::move(workflow_)) workflow->Pause();
}

void StandardTransfer::SetError(TransferError error) {
    data_->status->Record().error = error;
    data_->status->Record().errorRetryable = false;
    if (std::shared_ptr<Workflow> workflow = std::move(workflow_)) workflow->Pause();
}

TransferStatus StandardTransfer::FinishWithEvent(Lock& lock, std::unique_ptr<TransferEvent> event) {
    TransferStatus status = GetStatus(lock);
    FireAfterRelease(lock, std::move(event));
    return status;
}

void StandardTransfer::FireAfterRelease(Lock& lock, std::unique_ptr<TransferEvent> event) {
    lock.unlock();
    event->Fire();
}

void StandardTransfer::FailTransfer(Lock& lock, const std::string& message, TransferError error) {
    data_->status->Record().error = error;
    data_->status->Record().errorRetryable = false;
    const auto payload = std::make_shared<TransferErrorData>(error, message);
    std::unique_ptr<TransferEvent> event =
        std::make_unique<TransferFatalErrorEvent>(*workInterface_, payload, *data_->status);
    std::shared_ptr<Workflow> workflow = std::move(workflow_);
    lock.unlock();
    // The root reports the cancellation to this transfer, whose fatal error makes it ignore the report.
    if (workflow) {
        try {
            workflow->Cancel(WorkStatus(WorkResult::FatalError, payload));
        } catch (...) {
            // The workflow is stopped whatever its observers did with the report; the event still goes out.
        }
        workflow.reset();
    }
    event->Fire();
}

bool StandardTransfer::ValidateDestination(const std::string& path) const {
    const std::string& stored = data_->params.destPath;
    if (stored == UnspecifiedVersion && path == UnspecifiedVersion) return false;
    if (stored != UnspecifiedVersion && path != UnspecifiedVersion && stored != path) return false;
    return true;
}

bool StandardTransfer::IsProgressComplete() const {
    const TransferState state = State();
    if (!data_->package || HasError()) return false;
    if (state != TransferState::Transferring && state != TransferState::TransferringPaused) return false;
    const std::uint64_t total = data_->package->GetTotalSize();
    const TransferStatusImpl& status = *data_->status;
    return status.BytesTransferred() == total && status.BytesVerified() == total &&
           status.Record().bytesTotal == total;
}

void StandardTransfer::DeleteCreatedFiles() {
    for (const auto& path : data_->createdFiles)
        DeleteDestinationFile(path);
    data_->createdFiles.clear();
}

void StandardTransfer::DeleteDestinationFile(const std::string& relativePath) {
    // Without a destination no file of this transfer can exist; "?" must not be taken for a folder.
    const std::string& folder = data_->params.destPath;
    SharedFileFactory* files = data_->behavior.sharedFileFactory;
    if (folder == UnspecifiedVersion || !files) return;
    files->Delete(folder, relativePath);
}

bool StandardTransfer::IgnoresReports() const {
    return IsInactive(State()) || HasFatalError();
}

TransferState StandardTransfer::State() const {
    return data_->status->Record().state;
}

bool StandardTransfer::HasError() const {
    return data_->status->Record().error != TransferError::None;
}

bool StandardTransfer::HasFatalError() const {
    return data_->status->Record().HasFatalError();
}

}  // namespace qelt
