#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "transfer/transfer_work.h"
#include "work/workflow.h"

namespace qelt {

class StandardTransfer;
struct StandardTransferData;

// The works' view of a StandardTransfer, serving one data block. Each report a work makes (a milestone, the
// root's completion, a retryable error of the workflow, a file it created) takes the transfer's lock and, while
// the interface is connected, calls the transfer's handler with that lock; the handler may release it before it
// fires an event. Once the transfer has disconnected the interface (it replaced its data, or it is gone) late
// reports are dropped; the works' shared pointers keep the old data block alive for as long as they need it.
//
// Reports arrive on pool threads and, when the transfer cancels its workflow after a fatal error, on the thread
// that cancels it, after the transfer released its lock. None may come with a composite's or a workflow's lock
// held. GetParams takes the same lock and so may be called from any thread that holds no such lock either (the
// works' descriptions call it).
class StandardTransferWorkInterface : public TransferWorkInterface, public WorkflowRetryableErrorCallback {
public:
    // Forwards a completion to a function bound at construction; calling an empty function throws
    // std::bad_function_call.
    class InternalCallback : public WorkCompleteCallback {
    public:
        using Function = std::function<void(std::shared_ptr<Work>, const WorkStatus&)>;
        explicit InternalCallback(Function function) : function_(std::move(function)) {}
        InternalCallback(const InternalCallback&) = delete;
        InternalCallback& operator=(const InternalCallback&) = delete;

        void OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) override;

    private:
        const Function function_;
    };

    // `mutex` is the transfer's own lock, shared so that an interface outliving its transfer can still take it
    // and find itself disconnected. `transfer` is not owned.
    StandardTransferWorkInterface(StandardTransfer* transfer, std::shared_ptr<std::recursive_mutex> mutex,
                                  std::shared_ptr<StandardTransferData> data);
    StandardTransferWorkInterface(const StandardTransferWorkInterface&) = delete;
    StandardTransferWorkInterface& operator=(const StandardTransferWorkInterface&) = delete;

    TransferParams GetParams() override;
    const TransferParams* Params() override;
    TransferBehavior* GetBehavior() override;
    std::shared_ptr<PackageManifest> GetPackage() override;
    std::shared_ptr<NodeListManifest> GetNodeList() override;
    std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override;
    WorkCompleteCallback* GetCompleteCallback() override { return &completeCallback_; }
    WorkCompleteCallback* GetPackageCallback() override { return &packageCallback_; }
    WorkCompleteCallback* GetNodeListCallback() override { return &nodeListCallback_; }
    WorkCompleteCallback* GetInitializeCallback() override { return &initializeCallback_; }
    WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return this; }
    void RegisterCreatedFile(const std::string& relativePath) override;
    void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override;

    // One way: every later report is dropped. Takes the transfer's lock.
    void Disconnect();

private:
    using Lock = std::unique_lock<std::recursive_mutex>;

    // Calls handler(lock) under the transfer's lock while connected.
    template <typename Handler>
    void Forward(Handler&& handler);

    void ForwardComplete(std::shared_ptr<Work> work, const WorkStatus& status);
    void ForwardPackage(std::shared_ptr<Work> work, const WorkStatus& status);
    void ForwardNodeList(std::shared_ptr<Work> work, const WorkStatus& status);
    void ForwardInitialize(std::shared_ptr<Work> work, const WorkStatus& status);

    StandardTransfer* const transfer_;
    const std::shared_ptr<std::recursive_mutex> mutex_;
    const std::shared_ptr<StandardTransferData> data_;
    bool connected_ = true;
    InternalCallback completeCallback_;
    InternalCallback packageCallback_;
    InternalCallback nodeListCallback_;
    InternalCallback initializeCallback_;
};

}  // namespace qelt
