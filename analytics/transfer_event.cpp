#include "analytics/transfer_event.h"

#include <boost/property_tree/ptree.hpp>

#include "analytics/event_manager.h"
#include "analytics/work_log_manager.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "selection/node_statistics.h"
#include "transfer/transfer_status_impl.h"
#include "transfer/transfer_work.h"

namespace qelt {
namespace {

std::uint8_t Code(TransferState state) {
    return static_cast<std::uint8_t>(state);
}

std::string ErrorText(const std::shared_ptr<WorkStatusData>& error) {
    return error ? error->ToString() : std::string();
}

TransferAnalyticsRequest TrafficRecord(const TransferParams& params, TransferState state,
                                       TransferStatusImpl& status) {
    const TransferTraffic traffic = TakeTransferTraffic(status);
    return TransferAnalyticsRequest(params, Code(state), traffic.bytes, traffic.milliseconds);
}

}  // namespace

TransferTraffic TakeTransferTraffic(TransferStatusImpl& status) {
    TransferTraffic traffic;
    traffic.milliseconds = status.TakeActiveDelta();
    traffic.bytes = status.TakeDownloadedDelta();
    return traffic;
}

TransferEvent::TransferEvent(TransferWorkInterface& iface, std::string name)
    : params_(iface.GetParams()), nodeList_(iface.GetNodeList()), name_(std::move(name)) {
    if (const TransferBehavior* behavior = iface.GetBehavior()) behavior_ = *behavior;
}

void TransferEvent::Fire() {
    try {
        SendAnalytics();
    } catch (...) {
        // Analytics are best effort; the log entry is still worth writing.
    }
    try {
        WriteLog();
    } catch (...) {
    }
}

void TransferEvent::PostRecord(int channel, const OutputManifest& record) {
    EventManager* analytics = behavior_.eventManager;
    if (!analytics) return;
    auto work = analytics->CreateWork(channel);
    record.Serialize(work->Tree());
    analytics->Submit(std::move(work));
}

void TransferEvent::WriteLog() {
    EventManager* log = behavior_.workLogManager;
    if (!log) return;
    auto work = log->CreateWork(kTransferEventLogLevel);
    work->Tree().put("event", name_);
    ptree params;
    params_.Describe(params);
    work->Tree().add_child("params", params);
    log->Submit(std::move(work));
}

void TransferEvent::PostNodeReport(const EventAnalyticsRequest* first) {
    EventManager* analytics = behavior_.eventManager;
    if (!analytics) return;
    auto work = analytics->CreateWork(kAnalyticsEventsChannel);
    ptree& tree = work->Tree();
    auto append = [&tree](const OutputManifest& record) {
        ptree child;
        record.Serialize(child);
        tree.push_back(ptree::value_type("", std::move(child)));
    };
    if (first) append(*first);
    if (nodeList_) {
        for (const auto& node : nodeList_->GetNodes()) {
            const auto statistics = node->GetStatistics();
            if (!statistics) continue;
            const std::uint64_t milliseconds = statistics->Milliseconds().TakeDelta();
            const std::uint64_t bytes = statistics->Bytes().TakeDelta();
            append(OptimizerAnalyticsRequest(params_, bytes, milliseconds, node->GetHost()));
        }
    }
    analytics->Submit(std::move(work));
}

SimpleTransferEvent::SimpleTransferEvent(TransferWorkInterface& iface, std::string name, std::string counter)
    : TransferEvent(iface, std::move(name)), simpleRecord_(params_, std::move(counter)) {}

void SimpleTransferEvent::SendAnalytics() {
    PostRecord(kAnalyticsEventsChannel, simpleRecord_);
}

TransferStateEvent::TransferStateEvent(TransferWorkInterface& iface, std::string name, std::string counter,
                                       TransferState state, TransferTraffic traffic)
    : SimpleTransferEvent(iface, std::move(name), std::move(counter)),
      transferRecord_(params_, Code(state), traffic.bytes, traffic.milliseconds) {}

void TransferStateEvent::SendAnalytics() {
    PostRecord(kAnalyticsEventsChannel, simpleRecord_);
    PostRecord(kAnalyticsTransferChannel, transferRecord_);
}

TransferEndEvent::TransferEndEvent(TransferWorkInterface& iface, std::string name, std::string counter,
                                   TransferState state, TransferStatusImpl& status)
    : TransferStateEvent(iface, std::move(name), std::move(counter), state, TakeTransferTraffic(status)) {}

void TransferEndEvent::SendAnalytics() {
    PostRecord(kAnalyticsTransferChannel, transferRecord_);
    PostNodeReport(&simpleRecord_);
}

TransferErrorEvent::TransferErrorEvent(TransferWorkInterface& iface, std::string name, std::string counter,
                                       const std::shared_ptr<WorkStatusData>& error, TransferStatusImpl& status)
    : TransferEvent(iface, std::move(name)),
      errorRecord_(params_, std::move(counter), ErrorText(error)),
      transferRecord_(TrafficRecord(params_, status.Record().state, status)) {}

void TransferErrorEvent::SendAnalytics() {
    if (transferRecord_.Bytes() != 0 || transferRecord_.Milliseconds() != 0)
        PostRecord(kAnalyticsTransferChannel, transferRecord_);
    PostNodeReport(&errorRecord_);
}

TransferInitializeEvent::TransferInitializeEvent(TransferWorkInterface& iface)
    : SimpleTransferEvent(iface, "Initialize", "numInitializes") {}

TransferInitializeCompleteEvent::TransferInitializeCompleteEvent(TransferWorkInterface& iface)
    : SimpleTransferEvent(iface, "InitializeComplete", "numInitializeCompletes") {}

TransferPauseEvent::TransferPauseEvent(TransferWorkInterface& iface)
    : SimpleTransferEvent(iface, "Pause", "numPauses") {}

TransferResumeEvent::TransferResumeEvent(TransferWorkInterface& iface)
    : SimpleTransferEvent(iface, "Resume", "numResumes") {}

TransferRetryEvent::TransferRetryEvent(TransferWorkInterface& iface)
    : SimpleTransferEvent(iface, "Retry", "numRetries") {}

TransferStartEvent::TransferStartEvent(TransferWorkInterface& iface)
    : TransferStateEvent(iface, "Start", "numStarts", TransferState::Transferring, {}) {}

TransferRestoreEvent::TransferRestoreEvent(TransferWorkInterface& iface)
    : TransferStateEvent(iface, "Restore", "numRestores", TransferState::Initializing, {}) {}

TransferCompleteEvent::TransferCompleteEvent(TransferWorkInterface& iface, TransferStatusImpl& status)
    : TransferEndEvent(iface, "Complete", "numCompletes", status.Record().state, status) {}

TransferCancelEvent::TransferCancelEvent(TransferWorkInterface& iface, TransferStatusImpl& status)
    : TransferEndEvent(iface, "Cancel", "numCancels", status.Record().state, status) {}

TransferSuspendEvent::TransferSuspendEvent(TransferWorkInterface& iface, TransferStatusImpl& status)
    : TransferEndEvent(iface, "Suspend", "numSuspends", TransferState::Suspended, status) {}

TransferRetryableErrorEvent::TransferRetryableErrorEvent(TransferWorkInterface& iface,
                                                         const std::shared_ptr<WorkStatusData>& error,
                                                         TransferStatusImpl& status)
    : TransferErrorEvent(iface, "RetryableError", "numRetryableErrors", error, status) {}

TransferFatalErrorEvent::TransferFatalErrorEvent(TransferWorkInterface& iface,
                                                 const std::shared_ptr<WorkStatusData>& error,
                                                 TransferStatusImpl& status)
    : TransferErrorEvent(iface, "FatalError", "numFatalErrors", error, status) {}

TransferPeriodicEvent::TransferPeriodicEvent(TransferWorkInterface& iface, TransferStatusImpl& status)
    : TransferEvent(iface, "PeriodicUpdate"),
      transferRecord_(TrafficRecord(params_, status.Record().state, status)) {}

void TransferPeriodicEvent::SendAnalytics() {
    PostRecord(kAnalyticsTransferChannel, transferRecord_);
    PostNodeReport(nullptr);
}

void TransferPeriodicEvent::WriteLog() {}

}  // namespace qelt
