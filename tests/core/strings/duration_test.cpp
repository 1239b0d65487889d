#include "core/strings/duration.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Duration, RenderTimeShowsTenthsUnderTenSeconds) {
    EXPECT_EQ(formatRenderTime(0.0, ","), "00:00:00,0");
    EXPECT_EQ(formatRenderTime(0.34, ","), "00:00:00,3");
    // 2.3 * 10 is 22.999999999999996 in doubles: still 2.3.
    EXPECT_EQ(formatRenderTime(2.3, "."), "00:00:02.3");
    EXPECT_EQ(formatRenderTime(9.99, ","), "00:00:09,9");
    // From ten seconds on, whole seconds as before.
    EXPECT_EQ(formatRenderTime(10.0, ","), "00:00:10");
    EXPECT_EQ(formatRenderTime(3725.7, ","), formatClockDuration(3725.7));
    EXPECT_EQ(formatRenderTime(-1.0, ","), "00:00:00");
}

}  // namespace
}  // namespace qm
