#pragma once

#include <cstdint>
#include <memory>

#include "work/work.h"

namespace qelt {

enum class WorkflowState : std::uint8_t {
    NotStarted = 0,
    Running = 1,        // leaves are dispatched
    Paused = 2,         // paused by the user
    PausedByError = 3,  // paused because a retryable error surfaced
    PausedBoth = 4,     // paused by the user and by an error
    Finished = 5,       // the root finished, or a fatal error occurred
    Stopped = 6,        // cancelled by the owner
};

// The owner's observer of retryable errors that no work absorbed. Called on a pool thread after the workflow has
// paused itself and released its lock.
class WorkflowRetryableErrorCallback {
public:
    virtual ~WorkflowRetryableErrorCallback() = default;
    virtual void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                          const WorkStatus& status) = 0;
};

// Runs one tree of works on a work manager: queues the leaves that may run, limits how many run at once, pauses
// and resumes the tree, and is itself the first completion observer of every work attached to it.
class Workflow : public WorkCompleteCallback {
public:
    virtual bool Start() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool ResumeAfterError() = 0;
    virtual WorkflowState GetState() const = 0;
    virtual bool IsStarted() const = 0;
    virtual bool IsPaused() const = 0;
    virtual bool IsErrorPaused() const = 0;
    virtual bool IsFinished() const = 0;
    // Stops the workflow and makes the root report `status`; false when it was already stopped.
    virtual bool Cancel(const WorkStatus& status) = 0;
    // Not locked: register right after creation, before Start.
    virtual void AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) = 0;
    // Resets the leaf and queues it unless the workflow is finished; dispatches nothing by itself.
    virtual void Enqueue(std::shared_ptr<SimpleWork> work) = 0;
    // Called by the pool task after the leaf ran and notified its observers.
    virtual void OnWorkFinished(std::shared_ptr<SimpleWork> work, const WorkStatus& status) = 0;
};

}  // namespace qelt
