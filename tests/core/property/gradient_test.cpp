#include "core/property/gradient.h"

#include <cmath>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::IsNan;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr ColorRGBf kBlack{0.0f, 0.0f, 0.0f};
constexpr ColorRGBf kWhite{1.0f, 1.0f, 1.0f};
constexpr ColorRGBf kRed{1.0f, 0.0f, 0.0f};
constexpr ColorRGBf kBlue{0.0f, 0.0f, 1.0f};

ColorRGBf grey(float v) {
    return {v, v, v};
}

Gradientf makeGradient(std::initializer_list<ColorEntry<float>> stops) {
    Gradientf g;
    for (const auto& s : stops) g.AddStop(s.position, s.color);
    return g;
}

std::vector<double> positions(const Gradientf& g) {
    std::vector<double> out;
    for (const auto& s : g.stops()) out.push_back(s.position);
    return out;
}

TEST(Gradientf, EmptySamplesBlackAndOneStopSamplesItsColourEverywhere) {
    Gradientf g;
    const ColorRGBf teal{0.2f, 0.4f, 0.6f};
    for (double t : {-1.0, 0.0, 0.5, 1.0, 2.0, kNaN}) EXPECT_EQ(g.ColorAt(t), kBlack) << t;
    g.AddStop(0.3, teal);
    for (double t : {-1.0, 0.0, 0.5, 1.0, 2.0, kNaN}) EXPECT_EQ(g.ColorAt(t), teal) << t;
}

TEST(Gradientf, ColorAtInterpolatesInsideAndTakesTheEndColoursOutside) {
    const Gradientf g = makeGradient({{0.0, kRed}, {1.0, kBlue}});
    EXPECT_EQ(g.ColorAt(0.25), (ColorRGBf{0.75f, 0.0f, 0.25f}));
    EXPECT_EQ(g.ColorAt(0.5), (ColorRGBf{0.5f, 0.0f, 0.5f}));
    EXPECT_EQ(g.ColorAt(0.0), kRed);
    EXPECT_EQ(g.ColorAt(-3.0), kRed);
    EXPECT_EQ(g.ColorAt(kNaN), kRed);
    EXPECT_EQ(g.ColorAt(1.0), kBlue);
    EXPECT_EQ(g.ColorAt(7.0), kBlue);
}

TEST(Gradientf, ColorAtRoundsTheFractionToFloatFirst) {
    // f = float(1/3) = 0x1.555556p-2; 1 - f = 0x1.5555548p-1 lies exactly halfway between two
    // floats and rounds to the even one. Mixing with the unrounded 1/3 would give float(2/3).
    const Gradientf g = makeGradient({{0.0, kWhite}, {1.0, kBlack}});
    const ColorRGBf c = g.ColorAt(1.0 / 3.0);
    EXPECT_EQ(c.r, 0x1.555554p-1f);
    EXPECT_NE(c.r, static_cast<float>(2.0 / 3.0));
}

TEST(Gradientf, ColorAtFormsTheFractionInExtendedPrecision) {
    // t / (1 - 2^-30) exceeds the float midpoint 0.5 + 2^-25 by about 2^-55: a double quotient
    // rounds onto the midpoint (then to 0.5 by ties-to-even), the extended one stays above it.
    const Gradientf g = makeGradient({{0.0, kBlack}, {1.0 - 0x1p-30, kWhite}, {1.0, kWhite}});
    EXPECT_EQ(g.ColorAt(0x1.000000fcp-1).r, 0x1.000002p-1f);
}

TEST(Gradientf, ColorAtWithoutEndStopsAtZeroAndOneTakesTheNearestEnd) {
    const Gradientf g = makeGradient({{0.25, kRed}, {0.75, kBlue}});
    EXPECT_EQ(g.ColorAt(0.1), kRed);
    EXPECT_EQ(g.ColorAt(0.5), (ColorRGBf{0.5f, 0.0f, 0.5f}));
    EXPECT_EQ(g.ColorAt(0.9), kBlue);
}

TEST(Gradientf, AddStopAtAnExistingPositionGoesInFrontAndWinsThere) {
    Gradientf g = makeGradient({{0.0, kBlack}, {0.5, kRed}, {1.0, kWhite}});
    g.AddStop(0.5, kBlue);
    ASSERT_THAT(positions(g), ElementsAre(0.0, 0.5, 0.5, 1.0));
    EXPECT_EQ(std::next(g.stops().begin())->color, kBlue);
    EXPECT_EQ(g.ColorAt(0.5), kBlue);
    // Just above 0.5 the ramp starts from the later of the equal stops.
    EXPECT_EQ(g.ColorAt(0.75), (ColorRGBf{1.0f, 0.5f, 0.5f}));
}

TEST(Gradientf, AddStopSortsByPositionAndAppendsNaN) {
    Gradientf g = makeGradient({{1.0, kWhite}, {0.0, kBlack}, {0.5, kRed}});
    g.AddStop(kNaN, kBlue);
    g.AddStop(0.7, kBlue);
    EXPECT_THAT(positions(g), ElementsAre(0.0, 0.5, 0.7, 1.0, IsNan()));
}

TEST(Gradientf, SimplifyDropsAMiddleStopOnlyBelowBothThresholds) {
    struct Case {
        double position;
        float grey;
        std::size_t expectedCount;
    };
    const Case cases[] = {
        {0.5, 0.5f, 2},   {0.505, 0.5f, 2},  // position bend 0.01 < 0.015
        {0.51, 0.5f, 3},                     // position bend 0.02
        {0.5, 0.6f, 3},                      // colour bend 0.2 per component
        {0.5, 0.508f, 2},                    // colour bends sum to 0.048
        {0.5, 0.509f, 3},                    // sum 0.054 although each component is only 0.018
    };
    for (const Case& c : cases) {
        Gradientf g = makeGradient({{0.0, kBlack}, {c.position, grey(c.grey)}, {1.0, kWhite}});
        g.Simplify();
        EXPECT_EQ(g.count(), c.expectedCount) << "middle " << c.position << ' ' << c.grey;
        EXPECT_EQ(g.stops().front(), (ColorEntry<float>{0.0, kBlack}));
        EXPECT_EQ(g.stops().back(), (ColorEntry<float>{1.0, kWhite}));
    }
}

TEST(Gradientf, SimplifyFormsThePositionBendInExtendedPrecision) {
    // 2 * 0.5575 - 0.2 - 0.9 rounds to 0.015000000000000013 in double arithmetic but to
    // 0.014999999999999958 when the sum is kept in extended precision.
    Gradientf g = makeGradient({{0.2, grey(0.5f)}, {0.5575, grey(0.5f)}, {0.9, grey(0.5f)}});
    g.Simplify();
    EXPECT_THAT(positions(g), ElementsAre(0.2, 0.9));
}

TEST(Gradientf, SimplifyReducesALinearRampToItsEnds) {
    Gradientf g;
    for (int k = 0; k <= 255; ++k) {
        const float v = static_cast<float>(k) / 255.0f;
        g.AddStop(k / 255.0, {v, 1.0f - v, 0.5f});
    }
    g.Simplify();
    EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, {0.0f, 1.0f, 0.5f}},
                                       ColorEntry<float>{1.0, {1.0f, 0.0f, 0.5f}}));
}

TEST(Gradientf, SimplifyResumesAfterTheRemovedStop) {
    // Red is 0.8 * position throughout. Removing 0.125 moves the pass on to (0.25, 0.5, 0.75),
    // which removes 0.5; what remains is unevenly spaced and stays. Retrying (0, 0.25, 0.5)
    // first would instead collapse the ramp to its two ends.
    Gradientf g;
    for (double p : {0.0, 0.125, 0.25, 0.5, 0.75, 1.0}) {
        g.AddStop(p, {static_cast<float>(0.8 * p), 0.0f, 0.0f});
    }
    g.Simplify();
    EXPECT_THAT(positions(g), ElementsAre(0.0, 0.25, 0.75, 1.0));
}

TEST(DisplayColor, ClampsThenTruncatesTheFloatProduct) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, std::uint32_t> cases[] = {
        {-0.2f, 0},  {0.0f, 0},   {0.5f, 127}, {0.999f, 254}, {0x1.fffffep-1f, 254},
        {1.0f, 255}, {1.5f, 255}, {inf, 255},  {-inf, 0},     {std::nanf(""), 0},
    };
    for (const auto& [component, expected] : cases) {
        EXPECT_EQ(displayColor({component, 0.0f, 0.0f}), expected) << component;
    }
}

TEST(DisplayColor, PacksRedGreenBlueFromTheLowByte) {
    EXPECT_EQ(displayColor({1.0f, 0.5f, 0.0f}), 0x007fffu);
    EXPECT_EQ(displayColor({0.0f, 0.0f, 1.0f}), 0xff0000u);
}

}  // namespace
}  // namespace qm
