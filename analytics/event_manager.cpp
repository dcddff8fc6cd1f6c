#include "analytics/event_manager.h"

namespace qelt {

EventManager::~EventManager() {
    // Normally done already by the concrete manager; harmless to repeat.
    Drain();
}

void EventManager::Submit(std::shared_ptr<TrackEventWork> work) {
    work->Reset();
    workManager_.PostWork(std::move(work));
}

}  // namespace qelt
