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
    if (attached_) completeCallbacks_.erase(completeCallbacks_.begin());
    completeCallbacks_.insert(completeCallbacks_.begin(), workflow.get());
    attached_ = true;
    OnAttach(std::move(workflow));
}

void Work::AddCompleteCallback(WorkCompleteCallback* callback) {
    if (hasParent_) {
        completeCallbacks_.insert(completeCallbacks_.end() - 1, callback);
    } else {
        completeCallbacks_.push_back(callback);
    }
}

void Work::SetParent(WorkCompleteCallback* parent) {
    if (hasParent_) completeCallbacks_.pop_back();
    completeCallbacks_.push_back(parent);
    hasParent_ = true;
}

void Work::NotifyComplete(const WorkStatus& status) {
    auto self = SharedFromThis();
    // Indexing rather than iterators: an observer may attach or add to the work while being notified.
    for (std::size_t i = 0; i < completeCallbacks_.size(); ++i)
        completeCallbacks_[i]->OnWorkComplete(self, status);
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
    for (auto* callback : retryCallbacks_)
        callback->OnSimpleWorkRetry(self, status);
}

}  // namespace qelt
