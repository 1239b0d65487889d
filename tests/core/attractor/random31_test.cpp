#include "core/attractor/random31.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace qm {
namespace {

using ::testing::ElementsAre;

std::vector<std::int32_t> draw(int n) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(random31());
    return v;
}

TEST(Random31, SequenceFromStateZero) {
    seedRandom31(0);
    EXPECT_THAT(draw(5), ElementsAre(0, 346, 13854878, 1621890440, 816282396));
}

TEST(Random31, SeedSetsTheLowHalfOnly) {
    seedRandom31(12345);
    EXPECT_THAT(draw(4), ElementsAre(4271370, 1382990846, 2021515706, 1387358403));
    // A seed with its top bit set stays unsigned: no sign extension into the high half.
    seedRandom31(0xFFFFFFFFu);
    EXPECT_EQ(random31(), 19674);
    EXPECT_EQ(threadRandom31().state, 84503481528780u);
}

TEST(Random31, ResultsAreThirtyOneBits) {
    seedRandom31(7);
    for (int i = 0; i < 100000; ++i) {
        const std::int32_t r = random31();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 2147483647);
    }
}

TEST(Random31, EveryThreadHasItsOwnStateStartingAtZero) {
    seedRandom31(99);
    random31();
    std::vector<std::int32_t> other;
    std::thread t([&] { other = draw(3); });
    t.join();
    EXPECT_THAT(other, ElementsAre(0, 346, 13854878));
    // This thread's state was not touched by the other one.
    seedRandom31(99);
    const std::int32_t first = random31();
    seedRandom31(99);
    EXPECT_EQ(random31(), first);
}

}  // namespace
}  // namespace qm
