#include "work/asio_work_manager.h"

#include <boost/asio/post.hpp>

#include "work/work.h"
#include "work/workflow.h"

namespace qelt {

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
    boost::asio::post(ioContext_, [workflow = std::move(workflow), work = std::move(work)] {
        try {
            const WorkStatus status = work->Run();
            work->NotifyComplete(status);
            workflow->OnWorkFinished(work, status);
        } catch (...) {
            try {
                workflow->Cancel(WorkStatus(WorkResult::FatalError,
                                            std::make_shared<WorkExceptionData>(std::current_exception())));
            } catch (...) {
                // The workflow's own failure leaves nothing further to tell; the pool thread must survive.
            }
        }
    });
}

}  // namespace qelt
