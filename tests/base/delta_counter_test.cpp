#include "base/delta_counter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace qelt {
namespace {

TEST(DeltaCounterTest, TakeDeltaReturnsTheIncreaseOnce) {
    DeltaCounter<std::uint64_t> counter;
    counter.Add(500);
    EXPECT_EQ(counter.TakeDelta(), 500u);
    EXPECT_EQ(counter.TakeDelta(), 0u);
    counter.Add(7);
    EXPECT_EQ(counter.TakeDelta(), 7u);
    EXPECT_EQ(counter.Get(), 507u);
}

TEST(DeltaCounterTest, DeltaWrapsAroundLikeUnsigned) {
    DeltaCounter<std::uint32_t> counter;
    counter.Add(0xFFFFFFF0u);
    EXPECT_EQ(counter.TakeDelta(), 0xFFFFFFF0u);
    counter.Add(0x20);
    EXPECT_EQ(counter.Get(), 0x10u);
    EXPECT_EQ(counter.TakeDelta(), 0x20u);

    DeltaCounter<std::int32_t> signedCounter;
    signedCounter.Add(std::numeric_limits<std::int32_t>::max());
    signedCounter.TakeDelta();
    signedCounter.Add(2);
    EXPECT_EQ(signedCounter.TakeDelta(), 2);
}

}  // namespace
}  // namespace qelt
