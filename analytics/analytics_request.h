#pragma once

#include <cstdint>
#include <string>

#include "manifest/manifest.h"

namespace qelt {

class TransferParams;

// The records the analytics hosts receive. Every value is written as a JSON string: integers in decimal, seconds
// as a double with 16 significant digits in the shortest general form ("0.1", "12.345", "0").

// Writes "pid", "pkgid", "vid", then the objects "metrics" and "dimensions" filled by the subclass ({} when the
// subclass writes nothing into one of them).
class EventAnalyticsRequest : public OutputManifest {
public:
    explicit EventAnalyticsRequest(const TransferParams& params);
    void Serialize(ptree& node) const override;
    virtual void WriteMetrics(ptree& metrics) const = 0;
    virtual void WriteDimensions(ptree& dimensions) const = 0;

private:
    std::string partnerId_;
    std::string packageId_;
    std::string versionId_;
};

// Counts one occurrence of an event: metrics {counter: "1"}, no dimensions.
class SimpleEventAnalyticsRequest : public EventAnalyticsRequest {
public:
    SimpleEventAnalyticsRequest(const TransferParams& params, std::string counter);
    void WriteMetrics(ptree& metrics) const override;
    void WriteDimensions(ptree& dimensions) const override;

private:
    std::string counter_;
};

// A counted error with its text as the dimension "error" (no dimension for an empty text).
class ErrorAnalyticsRequest : public SimpleEventAnalyticsRequest {
public:
    ErrorAnalyticsRequest(const TransferParams& params, std::string counter, std::string error);
    void WriteDimensions(ptree& dimensions) const override;

private:
    std::string error_;
};

// What one download node delivered since the previous report: metrics "bytes" and "requestTime" (seconds),
// dimension "cdn" = the node's host.
class OptimizerAnalyticsRequest : public EventAnalyticsRequest {
public:
    OptimizerAnalyticsRequest(const TransferParams& params, std::uint64_t bytes, std::uint64_t milliseconds,
                              std::string host);
    void WriteMetrics(ptree& metrics) const override;
    void WriteDimensions(ptree& dimensions) const override;

private:
    std::uint64_t bytes_;
    std::uint64_t milliseconds_;
    std::string host_;
};

// The state of one transfer and what it moved since its previous report: "pid", "pkgid", "vid", "tid", "status"
// (TransferStatusName of the code), "transferBytes", "duration" (seconds).
class TransferAnalyticsRequest : public OutputManifest {
public:
    TransferAnalyticsRequest(const TransferParams& params, std::uint8_t statusCode, std::uint64_t bytes,
                             std::uint64_t milliseconds);
    void Serialize(ptree& node) const override;

    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Milliseconds() const { return milliseconds_; }

private:
    std::string partnerId_;
    std::string packageId_;
    std::string versionId_;
    std::string transferId_;
    std::uint8_t statusCode_;
    std::uint64_t bytes_;
    std::uint64_t milliseconds_;
};

// The status name of a transfer state number: 6 "suspended", 7 "completed", 8 "canceled", any other "active".
const char* TransferStatusName(std::uint8_t statusCode);

// Milliseconds as seconds in the records' double format.
std::string SecondsText(std::uint64_t milliseconds);

}  // namespace qelt
