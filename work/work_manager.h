#pragma once

#include <memory>

namespace qelt {

class SimpleWork;
class Workflow;

// The thread pool leaf works execute on. Both operations return at once; posting never runs the work on the
// calling thread. Any thread may post. No exception leaves a pool task.
class WorkManager {
public:
    WorkManager() = default;
    WorkManager(const WorkManager&) = delete;
    WorkManager& operator=(const WorkManager&) = delete;
    virtual ~WorkManager() = default;

    // Runs a lone work: Run, then NotifyComplete. An exception is dropped.
    virtual void PostWork(std::shared_ptr<SimpleWork> work) = 0;
    // Runs one leaf of a workflow: Run, NotifyComplete, then the workflow's OnWorkFinished. An exception stops
    // the workflow through Cancel with a FatalError status carrying a WorkExceptionData.
    virtual void PostWorkflowWork(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) = 0;
};

}  // namespace qelt
