#pragma once

#include <boost/property_tree/ptree.hpp>
#include <memory>

#include "work/asio_work_manager.h"
#include "work/work.h"

namespace qelt {

// A work that carries one JSON tree to its destination (an analytics host, the log file). The creator fills
// Tree() before submitting it.
class TrackEventWork : public SimpleWork {
public:
    explicit TrackEventWork(int channel) : channel_(channel) {}

    boost::property_tree::ptree& Tree() { return tree_; }
    const boost::property_tree::ptree& Tree() const { return tree_; }
    // The analytics channel, or the log level for log works.
    int Channel() const { return channel_; }

    void Cancel() override {}

private:
    boost::property_tree::ptree tree_;
    int channel_;
};

// Hands out event works and runs them on a small pool of its own, so no output happens on the thread that raised
// the event. CreateWork and Submit may be called from any thread and return at once.
class EventManager {
public:
    explicit EventManager(unsigned threadCount) : workManager_(threadCount) {}
    EventManager(const EventManager&) = delete;
    EventManager& operator=(const EventManager&) = delete;
    virtual ~EventManager() = default;

    virtual std::shared_ptr<TrackEventWork> CreateWork(int channel) = 0;
    // Resets the work, then posts it on the manager's own pool.
    virtual void Submit(std::shared_ptr<TrackEventWork> work);

protected:
    AsioWorkManager& Pool() { return workManager_; }

private:
    AsioWorkManager workManager_;
};

// The type under which analytics sinks are passed around.
class AnalyticsManager : public EventManager {
public:
    using EventManager::EventManager;
};

}  // namespace qelt
