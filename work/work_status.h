#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace qelt {

using boost::property_tree::ptree;

// The outcome of a work. The numbers are the values written to JSON.
enum class WorkResult : std::uint8_t {
    Success = 0,         // the work did its job
    Failure = 1,         // it ran to the end but the result is bad; the parent composite decides what follows
    Cancelled = 2,       // the cancel flag was set before an attempt; the workflow queues it again
    RetryableError = 3,  // transient; retried in place while the budget allows, else it pauses the workflow
    FatalError = 4,      // unrecoverable; also the value of a status not produced yet
};

// Anything that can describe itself into a property tree (later written as JSON).
class WorkDescriptor {
public:
    virtual ~WorkDescriptor() = default;
    virtual void Describe(ptree& out) const = 0;
};

// Polymorphic payload of a status. Error payloads derive from it virtually so that a transfer payload can also be
// a WorkErrorData or WorkExceptionData with one WorkStatusData inside.
class WorkStatusData : public WorkDescriptor {
public:
    // A one-line text of the payload; empty unless a subclass says more.
    virtual std::string ToString() const { return {}; }
};

class WorkErrorData : public virtual WorkStatusData {
public:
    explicit WorkErrorData(std::string message) : message_(std::move(message)) {}
    void Describe(ptree& out) const override;
    std::string ToString() const override { return message_; }
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

// Carries an exception caught inside a work, captured with std::current_exception in the catch block.
class WorkExceptionData : public virtual WorkStatusData {
public:
    explicit WorkExceptionData(std::exception_ptr exception) : exception_(std::move(exception)) {}
    // Throws std::logic_error when no exception is stored.
    [[noreturn]] void Rethrow() const;
    void Describe(ptree& out) const override;
    // The type name of the stored exception, or "Unknown exception type".
    std::string ToString() const override;
    const std::exception_ptr& Exception() const { return exception_; }

private:
    std::exception_ptr exception_;
};

// What a work reports when it finishes. The one copyable value type of the work model.
class WorkStatus : public WorkDescriptor {
public:
    explicit WorkStatus(WorkResult result = WorkResult::FatalError, std::shared_ptr<WorkStatusData> data = nullptr)
        : result(result), data(std::move(data)) {}

    // Writes "result" (decimal), "retry" ("true"/"false") and, only with data, a child "data".
    void Describe(ptree& out) const override;

    WorkResult result;
    // True only in the status handed to retry observers just before an in-place retry, and in a composite's own
    // status when it restarts itself; false in every status delivered to completion observers.
    bool retry = false;
    std::shared_ptr<WorkStatusData> data;
};

// The decimal text written for a result.
std::string ToString(WorkResult result);

}  // namespace qelt
