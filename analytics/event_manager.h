#pragma once

#include <boost/property_tree/ptree.hpp>
#include <memory>

#include "work/asio_work_manager.h"
#include "work/work.h"

namespace qelt {

// The analytics channels: 1 reaches the analytics events host, 32 the transfer analytics host; any other number
// is treated like 1.
inline constexpr int kAnalyticsEventsChannel = 1;
inline constexpr int kAnalyticsTransferChannel = 32;

// A work that carries one JSON tree to its destination (an analytics host, the log file). The creator fills
// Tree() before submitting it and leaves it alone afterwards.
class TrackEventWork : public SimpleWork {
public:
    explicit TrackEventWork(int channel) : channel_(channel) {}

    boost::property_tree::ptree& Tree() { return tree_; }
    const boost::property_tree::ptree& Tree() const { return tree_; }
    // The analytics channel, or the level for log works.
    int Channel() const { return channel_; }

    void Cancel() override {}

private:
    boost::property_tree::ptree tree_;
    int channel_;
};

// Hands out event works and runs them on a small pool of its own, so no output happens on the thread that raised
// the event. CreateWork and Submit may be called from any thread, touch no shared state of the manager and return
// at once; nobody observes how a submitted work ends.
//
// Destruction runs every work submitted so far before the manager goes. Because those works may call back into
// the most derived manager, each concrete manager calls Drain first thing in its own destructor.
class EventManager {
public:
    explicit EventManager(unsigned threadCount) : workManager_(threadCount) {}
    EventManager(const EventManager&) = delete;
    EventManager& operator=(const EventManager&) = delete;
    virtual ~EventManager();

    virtual std::shared_ptr<TrackEventWork> CreateWork(int channel) = 0;
    // Resets the work, then posts it on the manager's own pool.
    virtual void Submit(std::shared_ptr<TrackEventWork> work);

protected:
    AsioWorkManager& Pool() { return workManager_; }
    // Waits until every submitted work, and every work those submit in turn, has run; later submissions never
    // run. Must not be called from the manager's own pool.
    void Drain() { workManager_.Drain(); }

private:
    AsioWorkManager workManager_;
};

// The type under which analytics sinks are passed around.
class AnalyticsManager : public EventManager {
public:
    using EventManager::EventManager;
};

}  // namespace qelt
