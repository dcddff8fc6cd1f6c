#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace qelt {

// Milliseconds of a steady clock, wrapping at 32 bits like the platform's millisecond counter. Every part of the
// engine that measures time (rates and estimates, request durations, the monitor's poll, the periodic event)
// takes one of these, so tests can drive time by hand. Differences of two readings are taken in uint32, which
// stays right across a wrap.
using MillisecondClock = std::function<std::uint32_t()>;
MillisecondClock SystemMillisecondClock();

// The calendar time, for what is written with a date (the work log's file names and line stamps). Injected
// beside the millisecond clock for the same reason.
using CalendarClock = std::function<std::chrono::system_clock::time_point()>;
CalendarClock SystemCalendarClock();

}  // namespace qelt
