// Drawing new parameter values: the window around the old value, the 0.001 grid, the order
// of draws and the conversion into integer parameters.
#include <gtest/gtest.h>

#include "core/attractor/attractor.h"
#include "core/attractor/kinds.h"
#include "core/attractor/param_list.h"
#include "core/attractor/random31.h"

namespace qm {
namespace {

constexpr double kLo = -10, kHi = 10, kZero = 0, kTwo = 2, kFive = 5;

TEST(RandomizeAll, FullAmountDrawsOnTheGridFromTheMinimum) {
    double a = 3, b = 0;
    ParamList list;
    list.addParam("a", ParamType::Double, &a, &kLo, &kHi, true);
    list.addParam("b", ParamType::Double, &b, &kZero, &kTwo, true);
    seedRandom31(12345);  // draws 4271370, 1382990846, ...
    list.randomizeAll(3, 1.0);
    // Window 20 wide starting at -10: m = 20000, r = 4271370 mod 20000 = 11370.
    EXPECT_EQ(a, 11370 / 1000.0 + -10.0);
    // Window 2 wide starting at 0: m = 2000, r = 1382990846 mod 2000 = 846.
    EXPECT_EQ(b, 846 / 1000.0 + 0.0);
}

TEST(RandomizeAll, WindowNeverLeavesTheRange) {
    double v = 2;
    ParamList list;
    list.addParam("v", ParamType::Double, &v, &kZero, &kTwo, true);
    seedRandom31(1);
    for (int i = 0; i < 2000; ++i) {
        v = 2;  // at the maximum, half the range: the window is [1, 2)
        list.randomizeAll(3, 0.5);
        ASSERT_GE(v, 1.0);
        ASSERT_LT(v, 2.0);
        v = 0;  // at the minimum: [0, 1)
        list.randomizeAll(3, 0.5);
        ASSERT_GE(v, 0.0);
        ASSERT_LT(v, 1.0);
    }
    v = 1;  // in the middle, a tenth of the range: within 0.1 of the old value
    list.randomizeAll(3, 0.1);
    EXPECT_GE(v, 0.9);
    EXPECT_LT(v, 1.1);
}

TEST(RandomizeAll, EmptyWindowGivesZeroWithoutDrawing) {
    double flat = 4, wide = 4, fixed = 4;
    ParamList list;
    list.addParam("flat", ParamType::Double, &flat, &kFive, &kFive, true);
    list.addParam("fixed", ParamType::Double, &fixed, &kLo, &kHi, false);
    seedRandom31(77);
    const auto before = threadRandom31().state;
    list.randomizeAll(3, 1.0);
    EXPECT_EQ(flat, 0);   // minimum equals maximum
    EXPECT_EQ(fixed, 4);  // not randomizable: untouched
    EXPECT_EQ(threadRandom31().state, before);

    list.addParam("wide", ParamType::Double, &wide, &kLo, &kHi, true);
    list.randomizeAll(3, 0.0);  // amount 0
    EXPECT_EQ(wide, 0);
    list.randomizeAll(0, 1.0);  // no digits
    EXPECT_EQ(wide, 0);
    EXPECT_EQ(threadRandom31().state, before);
}

TEST(RandomizeAll, IntegerParametersTakeTheTruncatedDraw) {
    Icon icon;
    seedRandom31(5);
    bool sawLowest = false, sawHighest = false;
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(icon.randomize(1.0));
        ASSERT_GE(icon.degree, 2);
        ASSERT_LE(icon.degree, 23);  // 2 + r/1000 with r below 22000
        sawLowest |= icon.degree == 2;
        sawHighest |= icon.degree == 23;
        ASSERT_GE(icon.alpha, -3);
        ASSERT_LT(icon.alpha, 3);
    }
    EXPECT_TRUE(sawLowest);
    EXPECT_TRUE(sawHighest);
}

}  // namespace
}  // namespace qm
