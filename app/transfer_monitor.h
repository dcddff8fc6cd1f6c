#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "transfer/transfer_status.h"

namespace qelt {

// What the monitor polls: the transfer service's status operation.
class TransferStatusSource {
public:
    virtual ~TransferStatusSource() = default;
    // Never throws; an id without a transfer answers a status in state Unknown.
    virtual TransferStatus GetTransferStatus(const std::string& transferId) = 0;
};

// The watcher of one transfer (the dialog). Called on the monitor's thread, never with the monitor's lock held,
// so every operation may Register or Unregister transfers.
class TransferMonitorCallback {
public:
    virtual ~TransferMonitorCallback() = default;
    // The transfer runs normally; it stays watched.
    virtual void OnTransferProgress(const TransferStatus& status) = 0;
    // The transfer is prepared and waits for its destination; it is no longer watched.
    virtual void OnTransferReady(const TransferStatus& status) = 0;
    // The transfer reports an error while not at an end state; it is no longer watched.
    virtual void OnTransferError(const TransferStatus& status) = 0;
    // The transfer reached an end state (or is unknown); it is no longer watched.
    virtual void OnTransferComplete(const TransferStatus& status) = 0;
};

// Polls the watched transfers about every 100 ms on a thread of its own and reports each status to its callback.
// A transfer is watched from Register until a report other than progress. Registered callbacks must stay valid
// until they are unregistered or reported on, or until Stop has returned.
class TransferMonitorImpl {
public:
    static constexpr std::uint32_t kPollIntervalMs = 100;

    // `source` must outlive the monitor. `clock` times the polls: a round starts once nine tenths of the interval
    // have passed on it since the last one began waiting.
    explicit TransferMonitorImpl(TransferStatusSource& source, MillisecondClock clock = SystemMillisecondClock());
    TransferMonitorImpl(const TransferMonitorImpl&) = delete;
    TransferMonitorImpl& operator=(const TransferMonitorImpl&) = delete;
    // Stops and joins the thread. Not to be called from a callback.
    ~TransferMonitorImpl();

    // Starts the thread; does nothing when it was started before or the monitor is stopped.
    void Start();
    // Watches `transferId`; an id already watched keeps its callback.
    void Register(const std::string& transferId, TransferMonitorCallback* callback);
    void Unregister(const std::string& transferId);
    // Ends the polling: the round under way stops before its next transfer, and the thread is joined (unless Stop
    // is called from a callback, on the thread itself; the destructor joins it then). No callback runs after Stop
    // returns on another thread.
    void Stop();

private:
    void Run();
    // Waits until a round is due; false when stopping.
    bool WaitForRound(std::unique_lock<std::mutex>& lock);
    void PollRound();
    void Report(const std::string& transferId, TransferMonitorCallback* callback, const TransferStatus& status);

    TransferStatusSource& source_;
    const MillisecondClock clock_;
    const std::uint32_t pollIntervalMs_ = kPollIntervalMs;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool stopping_ = false;
    std::thread thread_;
    std::map<std::string, TransferMonitorCallback*> watched_;
};

}  // namespace qelt
