#include "work/work.h"

#include <boost/property_tree/ptree.hpp>

#include "work/workflow.h"

namespace qelt {

void Work::Describe(ptree&) const {}

void Work::DescribeWithStatus(const WorkStatus& status, ptree& out) const {
    Describe(out);
    ptree statusTree;
    status.Describe(statusTree);
    out.add_child("workStatus", statusTree);
}

void Work::Attach(std::shared_ptr<Workflow> workflow) {
    workflowCallback_ = workflow.get();
    OnAttach(std::move(workflow));
}

void Work::AddCompleteCallback(WorkCompleteCallback* callback) {
    observers_.Add(callback);
}

void Work::SetParent(WorkCompleteCallback* parent) {
    parent_ = parent;
}

void Work::NotifyComplete(const WorkStatus& status) {
    auto self = SharedFromThis();
    if (workflowCallback_) workflowCallback_->OnWorkComplete(self, status);
    // Indexing, and the size read anew each time: an observer may add another while being notified.
    for (std::size_t i = 0; i < observers_.Size(); ++i)
        observers_[i]->OnWorkComplete(self, status);
    if (parent_) parent_->OnWorkComplete(self, status);
}

std::vector<WorkCompleteCallback*> Work::CompleteCallbacks() const {
    std::vector<WorkCompleteCallback*> callbacks;
    if (workflowCallback_) callbacks.push_back(workflowCallback_);
    for (std::size_t i = 0; i < observers_.Size(); ++i)
        callbacks.push_back(observers_[i]);
    if (parent_) callbacks.push_back(parent_);
    return callbacks;
}

void SimpleWork::Reset() {
    cancelRequested_.store(false, std::memory_order_relaxed);
}

void SimpleWork::QueueAvailableWork(std::shared_ptr<Workflow> workflow) {
    workflow->Enqueue(shared_from_this());
}

WorkStatus SimpleWork::Run() {
    WorkStatus status(WorkResult::FatalError);
    for (;;) {
        if (IsCancelRequested()) return WorkStatus(WorkResult::Cancelled);
        WorkStatus attempt = ExecuteTask();
        status.result = attempt.result;
        status.data = std::move(attempt.data);
        status.retry = status.result == WorkResult::RetryableError && CanRetry();
        if (!status.retry) return status;
        NotifyRetry(status);
    }
}

void SimpleWork::NotifyRetry(const WorkStatus& status) {
    auto self = shared_from_this();
    for (std::size_t i = 0; i < retryCallbacks_.Size(); ++i)
        retryCallbacks_[i]->OnSimpleWorkRetry(self, status);
}

}  // namespace qelt
