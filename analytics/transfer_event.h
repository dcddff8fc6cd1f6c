#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "analytics/analytics_request.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_params.h"
#include "transfer/transfer_status.h"

namespace qelt {

class NodeListManifest;
class TransferStatusImpl;
class TransferWorkInterface;
class WorkStatusData;

// Transfer events are written to the work log at this level.
inline constexpr int kTransferEventLogLevel = 1;

// What a transfer moved since its previous report.
struct TransferTraffic {
    std::uint64_t bytes = 0;
    std::uint64_t milliseconds = 0;
};

// Takes the status's active-time delta, then its downloaded-bytes delta: the marks move whether or not the report
// that carries them is ever delivered.
TransferTraffic TakeTransferTraffic(TransferStatusImpl& status);

// A milestone of a transfer, turned into analytics records and one work log entry. The transfer builds the event
// under its lock (construction reads the parameters, the node list and, for some events, takes the status
// deltas) and fires it once after releasing the lock. Firing only queues works on the analytics and log
// managers of the transfer's behaviour (either may be null: that output is then skipped); it never blocks on
// output and never throws.
class TransferEvent {
public:
    TransferEvent(const TransferEvent&) = delete;
    TransferEvent& operator=(const TransferEvent&) = delete;
    virtual ~TransferEvent() = default;

    // SendAnalytics, then WriteLog. A failure of either (only lack of memory can fail them) is dropped: events
    // never fail a transfer.
    virtual void Fire();
    virtual void SendAnalytics() = 0;
    // Serialises `record` into a new work of the channel and submits it.
    virtual void PostRecord(int channel, const OutputManifest& record);
    // An entry at level 1: "event" = the name and "params" = the transfer parameters.
    virtual void WriteLog();

    const std::string& Name() const { return name_; }
    const TransferParams& Params() const { return params_; }

protected:
    TransferEvent(TransferWorkInterface& iface, std::string name);

    // Submits one channel-1 work whose tree is an array: `first` (when given), then one OptimizerAnalyticsRequest
    // per node of the node list in list order. Each node's bytes and milliseconds are taken as deltas, so a
    // report carries only what that node did since the previous one.
    void PostNodeReport(const EventAnalyticsRequest* first);

    TransferParams params_;
    TransferBehavior behavior_;
    std::shared_ptr<NodeListManifest> nodeList_;
    std::string name_;
};

// Counts the event on channel 1.
class SimpleTransferEvent : public TransferEvent {
public:
    void SendAnalytics() override;

protected:
    SimpleTransferEvent(TransferWorkInterface& iface, std::string name, std::string counter);

    SimpleEventAnalyticsRequest simpleRecord_;
};

// Counts the event on channel 1, then reports the transfer's state and traffic on channel 32.
class TransferStateEvent : public SimpleTransferEvent {
public:
    void SendAnalytics() override;

protected:
    TransferStateEvent(TransferWorkInterface& iface, std::string name, std::string counter, TransferState state,
                       TransferTraffic traffic);

    TransferAnalyticsRequest transferRecord_;
};

// The end of a run of the transfer: reports the traffic since the previous report (deltas taken at
// construction) on channel 32, then the count and the per-node report as one array on channel 1.
class TransferEndEvent : public TransferStateEvent {
public:
    void SendAnalytics() override;

protected:
    TransferEndEvent(TransferWorkInterface& iface, std::string name, std::string counter, TransferState state,
                     TransferStatusImpl& status);
};

// An error of the transfer: the traffic since the previous report on channel 32 (only when there was any), then
// the error record and the per-node report as one array on channel 1. The error text is the ToString of the
// error's status data (empty without data).
class TransferErrorEvent : public TransferEvent {
public:
    void SendAnalytics() override;

protected:
    TransferErrorEvent(TransferWorkInterface& iface, std::string name, std::string counter,
                       const std::shared_ptr<WorkStatusData>& error, TransferStatusImpl& status);

    ErrorAnalyticsRequest errorRecord_;
    TransferAnalyticsRequest transferRecord_;
};

class TransferInitializeEvent : public SimpleTransferEvent {
public:
    explicit TransferInitializeEvent(TransferWorkInterface& iface);
};

class TransferInitializeCompleteEvent : public SimpleTransferEvent {
public:
    explicit TransferInitializeCompleteEvent(TransferWorkInterface& iface);
};

class TransferPauseEvent : public SimpleTransferEvent {
public:
    explicit TransferPauseEvent(TransferWorkInterface& iface);
};

class TransferResumeEvent : public SimpleTransferEvent {
public:
    explicit TransferResumeEvent(TransferWorkInterface& iface);
};

class TransferRetryEvent : public SimpleTransferEvent {
public:
    explicit TransferRetryEvent(TransferWorkInterface& iface);
};

// Reports the state Transferring with no traffic.
class TransferStartEvent : public TransferStateEvent {
public:
    explicit TransferStartEvent(TransferWorkInterface& iface);
};

// Reports the state Initializing with no traffic.
class TransferRestoreEvent : public TransferStateEvent {
public:
    explicit TransferRestoreEvent(TransferWorkInterface& iface);
};

// Reports the current state of `status`.
class TransferCompleteEvent : public TransferEndEvent {
public:
    TransferCompleteEvent(TransferWorkInterface& iface, TransferStatusImpl& status);
};

// Reports the current state of `status`.
class TransferCancelEvent : public TransferEndEvent {
public:
    TransferCancelEvent(TransferWorkInterface& iface, TransferStatusImpl& status);
};

// Reports the state Suspended.
class TransferSuspendEvent : public TransferEndEvent {
public:
    TransferSuspendEvent(TransferWorkInterface& iface, TransferStatusImpl& status);
};

class TransferRetryableErrorEvent : public TransferErrorEvent {
public:
    TransferRetryableErrorEvent(TransferWorkInterface& iface, const std::shared_ptr<WorkStatusData>& error,
                                TransferStatusImpl& status);
};

class TransferFatalErrorEvent : public TransferErrorEvent {
public:
    TransferFatalErrorEvent(TransferWorkInterface& iface, const std::shared_ptr<WorkStatusData>& error,
                            TransferStatusImpl& status);
};

// Raised every periodicEventInterval seconds of active transfer time: the transfer record on channel 32 (deltas
// taken at construction), then the per-node report alone on channel 1 ([] before the node list is known). Not
// written to the log.
class TransferPeriodicEvent : public TransferEvent {
public:
    TransferPeriodicEvent(TransferWorkInterface& iface, TransferStatusImpl& status);
    void SendAnalytics() override;
    void WriteLog() override;

private:
    TransferAnalyticsRequest transferRecord_;
};

}  // namespace qelt
