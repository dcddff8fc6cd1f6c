#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/transfer_error.h"
#include "transfer/standard_transfer_data.h"
#include "transfer/transfer.h"
#include "work/work.h"

namespace qelt {

class StandardTransferWorkInterface;
class TransferEvent;
class TransferWorkflowFactory;
class Workflow;

// The transfer state machine: owns one workflow at a time, built by the workflow factory, and turns what its works
// report into state changes, each with its transfer event.
//
// Locks: one recursive mutex guards the state, the error, the data block and the workflow pointer. Public
// operations and work reports take it; workflow operations (Start, Pause, Resume, ResumeAfterError) are called
// with it held, so a transfer's lock always comes before a workflow's or a composite's. Events are built under it
// and fired after it is released; after a fatal error the workflow is cancelled after the release too, so the
// root's report can reach the transfer (which ignores it). No observer, event sink or callback is called with it
// held.
//
// Not final: StoredTransfer adds persistence through the protected operations. Each of them is called with the
// lock held and given it. A Do operation returns with the lock released exactly when it emitted its event, and
// held otherwise; the status it returns is the one to hand back.
class StandardTransfer : public Transfer {
public:
    // `workflowFactory` is not owned and must outlive the transfer. A transfer whose params are flagged suspended
    // starts in state Suspended and waits for Restore; any other starts Initializing and waits for Initialize.
    StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                     TransferWorkflowFactory* workflowFactory);
    // Disconnects the works (DisconnectWorks).
    ~StandardTransfer() override;

    TransferStatus Initialize() override;
    TransferStatus Start(const std::string& destPath) override;
    bool HasSufficientSpace(const std::string& destPath) override;
    TransferStatus Update() override;
    TransferStatus Cancel(bool discardFiles) override;
    TransferStatus Pause() override;
    TransferStatus Resume() override;
    TransferStatus Retry() override;
    TransferStatus Suspend() override;
    TransferStatus Restore() override;
    std::shared_ptr<TransferWorkInterface> GetWorkInterface() override;
    std::string GetNodesJson() override;

protected:
    using Lock = std::unique_lock<std::recursive_mutex>;

    // Disconnects the work interface and pauses the workflow: works still running finish their attempt, and
    // whatever they report afterwards is dropped. A subclass calls it first in its own destructor: a report that
    // arrived while only the base part is being destroyed would reach an object whose dynamic type is changing.
    void DisconnectWorks() noexcept;

    virtual TransferStatus DoInitialize(Lock& lock);
    virtual TransferStatus DoStart(Lock& lock, const std::string& destPath);
    virtual TransferStatus GetStatus(Lock& lock);
    virtual TransferStatus DoCancel(Lock& lock, bool discardFiles);
    virtual TransferStatus DoPause(Lock& lock);
    virtual TransferStatus DoResume(Lock& lock);
    virtual TransferStatus DoRetry(Lock& lock);
    virtual TransferStatus DoSuspend(Lock& lock);
    virtual TransferStatus DoRestore(Lock& lock);

    // Work reports, forwarded by the work interface. They may release the lock.
    virtual void OnWorkComplete(Lock& lock, std::shared_ptr<Work> work, const WorkStatus& status);
    virtual void OnPackageAcquire(Lock& lock, std::shared_ptr<Work> work, const WorkStatus& status);
    virtual void OnNodeListAcquire(Lock& lock, std::shared_ptr<Work> work, const WorkStatus& status);
    virtual void OnInitialize(Lock& lock, std::shared_ptr<Work> work, const WorkStatus& status);
    virtual void OnWorkflowRetryableError(Lock& lock, std::shared_ptr<Workflow> workflow,
                                          std::shared_ptr<Work> work, const WorkStatus& status);
    virtual void RegisterCreatedFile(Lock& lock, const std::string& relativePath);

    // Whether the Do operation that was given this lock emitted its event.
    static bool EmittedEvent(const Lock& lock) { return !lock.owns_lock(); }
    // Takes the lock and runs `operation` with it; an exception (lack of memory, a failing workflow) is turned
    // into the status as it then stands, so no public operation throws.
    TransferStatus Guarded(const std::function<TransferStatus(Lock&)>& operation) noexcept;
    Lock TakeLock() { return Lock(*mutex_); }
    // The current data block. Call with the lock held.
    StandardTransferData& Data() { return *data_; }

    // A new data block (status Initializing) served by a new work interface; the old interface is disconnected.
    void CreateData(const TransferParams& params, const TransferBehavior& behavior);
    // Builds a workflow for the current interface when there is none.
    void CreateWorkflow();

    void SetState(TransferState state);
    void SetError(TransferError error);
    // The status, then the lock released, then the event fired.
    TransferStatus FinishWithEvent(Lock& lock, std::unique_ptr<TransferEvent> event);
    // Releases the lock, then fires the event.
    void FireAfterRelease(Lock& lock, std::unique_ptr<TransferEvent> event);
    // Ends the transfer with a fatal error of this code, keeping its state: the fatal error event carries the
    // message, and the workflow is cancelled with the same payload. Releases the lock.
    void FailTransfer(Lock& lock, const std::string& message, TransferError error);
    bool ValidateDestination(const std::string& path) const;
    bool IsProgressComplete() const;
    void DeleteCreatedFiles();

private:
    friend class StandardTransferWorkInterface;

    // Reports reach a transfer only while it is active and without a fatal error.
    bool IgnoresReports() const;
    TransferState State() const;
    bool HasError() const;
    bool HasFatalError() const;
    // Deletes a file of the destination folder, unless no destination is known yet.
    void DeleteDestinationFile(const std::string& relativePath);

    const std::shared_ptr<std::recursive_mutex> mutex_ = std::make_shared<std::recursive_mutex>();
    TransferWorkflowFactory* const workflowFactory_;
    std::shared_ptr<StandardTransferData> data_;
    std::shared_ptr<StandardTransferWorkInterface> workInterface_;
    std::shared_ptr<Workflow> workflow_;
};

}  // namespace qelt
