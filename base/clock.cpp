#include "base/clock.h"

namespace qelt {

MillisecondClock SystemMillisecondClock() {
    return [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
}

CalendarClock SystemCalendarClock() {
    return [] { return std::chrono::system_clock::now(); };
}

}  // namespace qelt
