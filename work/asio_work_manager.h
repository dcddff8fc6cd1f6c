#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <memory>
#include <thread>
#include <vector>

#include "work/work_manager.h"

namespace qelt {

// A fixed set of threads all running one io_context. Tasks start in posting order on whichever thread is free.
//
// Destruction stops the io_context: tasks still queued are abandoned (never run), running ones finish, then the
// threads are joined. Owners that need their workflows' completions must stop or cancel them first; owners that
// need every posted task run (the event managers) call Drain before they let the manager go.
class AsioWorkManager : public WorkManager {
public:
    explicit AsioWorkManager(unsigned threadCount);
    ~AsioWorkManager() override;

    void PostWork(std::shared_ptr<SimpleWork> work) override;
    void PostWorkflowWork(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) override;

    // Lets the pool run dry: releases the keep-alive and joins every thread, so each task already posted, and each
    // task those tasks post in turn, has run when it returns. Afterwards no thread is left and later posts never
    // run. Called once, by the owner, never from a pool thread (it would wait for itself).
    void Drain();

    unsigned ThreadCount() const { return threadCount_; }

private:
    boost::asio::io_context ioContext_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_;
    std::vector<std::thread> threads_;
    unsigned threadCount_;
};

}  // namespace qelt
