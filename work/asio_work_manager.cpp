#include "work/asio_work_manager.h"

#include <boost/asio/defer.hpp>
#include <boost/asio/post.hpp>

#include "work/work.h"
#include "work/workflow.h"

namespace qelt {
namespace {

// The manager whose workflow task is handing its finished leaf back on this thread, if any. Leaves its workflow
// dispatches in that moment are deferred rather than posted: they run on this thread as soon as the task returns,
// in the slot the finished leaf frees, without waking another thread. Waking a sleeping thread for every leaf
// costs far more than a no-op leaf, and on a small machine the pool then spends its time switching threads.
// Only at the end of a task: a leaf that dispatched work while still running would hold its deferred followers
// until it returned.
constinit thread_local const AsioWorkManager* finishingTaskOf = nullptr;

class FinishingTask {
public:
    explicit FinishingTask(const AsioWorkManager* manager) : outer_(finishingTaskOf) { finishingTaskOf = manager; }
    ~FinishingTask() { finishingTaskOf = outer_; }
    FinishingTask(const FinishingTask&) = delete;
    FinishingTask& operator=(const FinishingTask&) = delete;

private:
    const AsioWorkManager* outer_;
};

}  // namespace

AsioWorkManager::AsioWorkManager(unsigned threadCount)
    : keepAlive_(boost::asio::make_work_guard(ioContext_)), threadCount_(threadCount) {
    threads_.reserve(threadCount);
    try {
        for (unsigned i = 0; i < threadCount; ++i)
            threads_.emplace_back([this] { ioContext_.run(); });
    } catch (...) {
        // Joinable threads must not be destroyed: stop and join those already running, then report the failure.
        ioContext_.stop();
        for (auto& thread : threads_)
            thread.join();
        throw;
    }
}

AsioWorkManager::~AsioWorkManager() {
    ioContext_.stop();
    for (auto& thread : threads_)
        if (thread.joinable()) thread.join();
    keepAlive_.reset();
}

void AsioWorkManager::Drain() {
    keepAlive_.reset();
    for (auto& thread : threads_)
        if (thread.joinable()) thread.join();
}

void AsioWorkManager::PostWork(std::shared_ptr<SimpleWork> work) {
    boost::asio::post(ioContext_, [work = std::move(work)] {
        try {
            const WorkStatus status = work->Run();
            work->NotifyComplete(status);
        } catch (...) {
            // A lone work (analytics, log) has nobody to report to.
        }
    });
}

void AsioWorkManager::PostWorkflowWork(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) {
    auto task = [this, workflow = std::move(workflow), work = std::move(work)] {
        try {
            const WorkStatus status = work->Run();
            work->NotifyComplete(status);
            FinishingTask finishing(this);
            workflow->OnWorkFinished(work, status);
        } catch (...) {
            try {
                workflow->Cancel(WorkStatus(WorkResult::FatalError,
                                            std::make_shared<WorkExceptionData>(std::current_exception())));
            } catch (...) {
                // The workflow's own failure leaves nothing further to tell; the pool thread must survive.
            }
        }
    };
    // A deferred task still goes through the io_context's queue: when more than one is deferred, or others are
    // waiting, the next free thread takes them.
    if (finishingTaskOf == this) {
        boost::asio::defer(ioContext_, std::move(task));
    } else {
        boost::asio::post(ioContext_, std::move(task));
    }
}

}  // namespace qelt
