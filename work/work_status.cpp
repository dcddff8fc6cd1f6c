#include "work/work_status.h"

#include <boost/core/demangle.hpp>
#include <boost/property_tree/ptree.hpp>
#include <stdexcept>
#include <typeinfo>

namespace qelt {
namespace {

const char kUnknownExceptionType[] = "Unknown exception type";

}  // namespace

std::string ToString(WorkResult result) {
    return std::to_string(static_cast<unsigned>(result));
}

void WorkErrorData::Describe(ptree& out) const {
    out.put("errorMessage", message_);
}

void WorkExceptionData::Rethrow() const {
    if (!exception_) throw std::logic_error("WorkExceptionData::Rethrow called with no exception_ptr");
    std::rethrow_exception(exception_);
}

void WorkExceptionData::Describe(ptree& out) const {
    try {
        Rethrow();
    } catch (const std::exception& e) {
        out.put("exception", boost::core::demangle(typeid(e).name()));
        out.put("what", e.what());
    } catch (...) {
        out.put("exception", kUnknownExceptionType);
    }
}

std::string WorkExceptionData::ToString() const {
    try {
        Rethrow();
    } catch (const std::exception& e) {
        return boost::core::demangle(typeid(e).name());
    } catch (...) {
        return kUnknownExceptionType;
    }
}

void WorkStatus::Describe(ptree& out) const {
    out.put("result", qelt::ToString(result));
    out.put("retry", retry ? "true" : "false");
    if (data) {
        ptree child;
        data->Describe(child);
        out.add_child("data", child);
    }
}

}  // namespace qelt
