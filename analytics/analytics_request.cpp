#include "analytics/analytics_request.h"

#include <boost/property_tree/ptree.hpp>
#include <cstdio>

#include "analytics/json_writer.h"
#include "transfer/transfer_params.h"

namespace qelt {
namespace {

// Appends a leaf without interpreting the key as a path, so a key may hold any character.
void AddLeaf(ptree& node, const std::string& key, const std::string& value) {
    node.push_back(ptree::value_type(key, ptree(value)));
}

// Takes `child`'s content, leaving it empty. Swapped in rather than moved: this Boost's ptree has no move
// constructor, so a move would copy the whole subtree.
void AddObject(ptree& node, const std::string& key, ptree& child) {
    if (child.empty()) child.data() = kJsonEmptyObject;
    node.push_back(ptree::value_type(key, ptree()))->second.swap(child);
}

}  // namespace

EventAnalyticsRequest::EventAnalyticsRequest(const TransferParams& params)
    : partnerId_(params.partnerId), packageId_(params.packageId), versionId_(params.versionId) {}

void EventAnalyticsRequest::Serialize(ptree& node) const {
    AddLeaf(node, "pid", partnerId_);
    AddLeaf(node, "pkgid", packageId_);
    AddLeaf(node, "vid", versionId_);
    ptree metrics;
    WriteMetrics(metrics);
    AddObject(node, "metrics", metrics);
    ptree dimensions;
    WriteDimensions(dimensions);
    AddObject(node, "dimensions", dimensions);
}

SimpleEventAnalyticsRequest::SimpleEventAnalyticsRequest(const TransferParams& params, std::string counter)
    : EventAnalyticsRequest(params), counter_(std::move(counter)) {}

void SimpleEventAnalyticsRequest::WriteMetrics(ptree& metrics) const {
    AddLeaf(metrics, counter_, "1");
}

void SimpleEventAnalyticsRequest::WriteDimensions(ptree&) const {}

ErrorAnalyticsRequest::ErrorAnalyticsRequest(const TransferParams& params, std::string counter, std::string error)
    : SimpleEventAnalyticsRequest(params, std::move(counter)), error_(std::move(error)) {}

void ErrorAnalyticsRequest::WriteDimensions(ptree& dimensions) const {
    if (!error_.empty()) AddLeaf(dimensions, "error", error_);
}

OptimizerAnalyticsRequest::OptimizerAnalyticsRequest(const TransferParams& params, std::uint64_t bytes,
                                                     std::uint64_t milliseconds, std::string host)
    : EventAnalyticsRequest(params), bytes_(bytes), milliseconds_(milliseconds), host_(std::move(host)) {}

void OptimizerAnalyticsRequest::WriteMetrics(ptree& metrics) const {
    AddLeaf(metrics, "bytes", std::to_string(bytes_));
    AddLeaf(metrics, "requestTime", SecondsText(milliseconds_));
}

void OptimizerAnalyticsRequest::WriteDimensions(ptree& dimensions) const {
    AddLeaf(dimensions, "cdn", host_);
}

TransferAnalyticsRequest::TransferAnalyticsRequest(const TransferParams& params, std::uint8_t statusCode,
                                                   std::uint64_t bytes, std::uint64_t milliseconds)
    : partnerId_(params.partnerId),
      packageId_(params.packageId),
      versionId_(params.versionId),
      transferId_(params.transferId),
      statusCode_(statusCode),
      bytes_(bytes),
      milliseconds_(milliseconds) {}

void TransferAnalyticsRequest::Serialize(ptree& node) const {
    AddLeaf(node, "pid", partnerId_);
    AddLeaf(node, "pkgid", packageId_);
    AddLeaf(node, "vid", versionId_);
    AddLeaf(node, "tid", transferId_);
    AddLeaf(node, "status", TransferStatusName(statusCode_));
    AddLeaf(node, "transferBytes", std::to_string(bytes_));
    AddLeaf(node, "duration", SecondsText(milliseconds_));
}

const char* TransferStatusName(std::uint8_t statusCode) {
    switch (statusCode) {
        case 6:
            return "suspended";
        case 7:
            return "completed";
        case 8:
            return "canceled";
        default:
            return "active";
    }
}

std::string SecondsText(std::uint64_t milliseconds) {
    // The stream conversion of the property tree writes 17 digits (0.1 becomes 0.10000000000000001); the
    // records carry 16.
    char text[32];
    std::snprintf(text, sizeof text, "%.16g", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

}  // namespace qelt
