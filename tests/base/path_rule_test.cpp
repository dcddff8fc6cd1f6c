#include "base/path_rule.h"

#include <gtest/gtest.h>

namespace qelt {
namespace {

TEST(PathRule, RelativePathIsAppendedWithOneSeparator) {
    EXPECT_EQ(ResolvePath("/data", "skin"), "/data/skin");
    EXPECT_EQ(ResolvePath("/data/", "skin"), "/data/skin");
    EXPECT_EQ(ResolvePath("/data", "a/b"), "/data/a/b");
}

TEST(PathRule, AbsolutePathIsKept) {
    EXPECT_EQ(ResolvePath("/data", "/elsewhere/x"), "/elsewhere/x");
}

}  // namespace
}  // namespace qelt
