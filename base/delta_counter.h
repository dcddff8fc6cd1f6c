#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <type_traits>

namespace qelt {

// A counter that is added to from any thread and can also be read as the increase since its previous delta
// read. Add and Get are lock-free; TakeDelta takes the counter's own mutex so that two concurrent delta readers
// never both report the same increase. Arithmetic wraps around like the unsigned type of the same width.
template <typename T>
class DeltaCounter {
    static_assert(std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::uint32_t> ||
                  std::is_same_v<T, std::uint64_t>);
    using Unsigned = std::make_unsigned_t<T>;

public:
    DeltaCounter() = default;
    DeltaCounter(const DeltaCounter&) = delete;
    DeltaCounter& operator=(const DeltaCounter&) = delete;

    void Add(T n) { value_.fetch_add(n, std::memory_order_relaxed); }
    T Get() const { return value_.load(std::memory_order_relaxed); }

    // The value minus the value at the previous TakeDelta (0 at first), then remembers the current value.
    T TakeDelta() {
        std::lock_guard<std::mutex> lock(mutex_);
        const T current = Get();
        const T delta = static_cast<T>(static_cast<Unsigned>(current) - static_cast<Unsigned>(lastDelta_));
        lastDelta_ = current;
        return delta;
    }

    // The increase since the previous TakeDelta, leaving the mark where it is.
    T SinceLastDelta() {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<T>(static_cast<Unsigned>(Get()) - static_cast<Unsigned>(lastDelta_));
    }

private:
    std::atomic<T> value_{0};
    std::mutex mutex_;
    T lastDelta_ = 0;
};

}  // namespace qelt
