#include "core/render/light.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/property/color_map.h"

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

constexpr ColorRGBf kBlack{0, 0, 0};
// Speed colour + angle colour of every step with the flat gradients below.
constexpr ColorRGBf kStep{0.25f, 0.5f, 0.0f};

// A target of mode 2 or 3 seen from (0, 0, -5). On an 8 x 8 image an object point (x, y, z)
// falls on pixel ((1 - 2x) * 4, (1 + 2y) * 4), exactly for the multiples of 1/8 used here.
std::unique_ptr<TBitmap3D_Light> makeTarget(int mode, int width = 8, int height = 8) {
    std::unique_ptr<TBitmap3D> t = CreateRenderTarget(mode);
    t->SetWidth(width);
    t->SetHeight(height);
    t->SetEye({0, 0, -5});
    t->SetTarget({0, 0, 0});
    return std::unique_ptr<TBitmap3D_Light>(dynamic_cast<TBitmap3D_Light*>(t.release()));
}

Gradientf flat(ColorRGBf c) {
    Gradientf g;
    g.AddStop(0, c);
    return g;
}

Gradientf ramp(ColorRGBf top) {
    Gradientf g;
    g.AddStop(0, kBlack);
    g.AddStop(1, top);
    return g;
}

// Every step is coloured kStep, whatever its speed and turn.
void useFlatGradients(TBitmap3D_Light& t) {
    t.speedGradient = flat({0.25f, 0, 0});
    t.angleGradient = flat({0, 0.5f, 0});
}

// While it lives, the vector paths of one width run: AVX2 (where the processor has it) or
// SSE2 alone.
class LanesScope {
public:
    explicit LanesScope(bool wide) : wide_(detail::setAvx2Lanes(wide)) {}
    ~LanesScope() { detail::setAvx2Lanes(true); }
    LanesScope(const LanesScope&) = delete;
    LanesScope& operator=(const LanesScope&) = delete;
    const char* name() const { return wide_ ? "AVX2" : "SSE2"; }

private:
    bool wide_;
};

std::size_t at(const TBitmap3D& t, int x, int y) {
    return static_cast<std::size_t>(x + y * t.imageWidth);
}

std::vector<std::pair<std::size_t, ColorRGBf>> litPixels(const TBitmap3D_Light& t) {
    std::vector<std::pair<std::size_t, ColorRGBf>> lit;
    for (std::size_t k = 0; k < t.lightBuffer.size(); ++k)
        if (t.lightBuffer[k] != kBlack) lit.emplace_back(k, t.lightBuffer[k]);
    return lit;
}

void expectPixel(const TBitmap3D& t, const Vecd& p, double x, double y) {
    const Vecd pixel = t.project(p);
    ASSERT_EQ(pixel.x, x) << p;
    ASSERT_EQ(pixel.y, y) << p;
}

TEST(LightPlot, FirstPointAfterClearIsDrawnAtItsOwnPlaceInThePreviousColour) {
    auto t = makeTarget(2);
    useFlatGradients(*t);
    const Vecd a{0.25, 0, 0}, b{0, 0.25, 0}, c{-0.25, 0, 0};
    expectPixel(*t, a, 2, 4);
    expectPixel(*t, b, 4, 6);
    expectPixel(*t, c, 6, 4);
    t->ClearImage();

    // A new target's colour is black, so its first point adds nothing.
    t->PlotPoint(a);
    EXPECT_THAT(litPixels(*t), ElementsAre());
    // Each later point draws its predecessor.
    t->PlotPoint(b);
    EXPECT_THAT(litPixels(*t), ElementsAre(Pair(at(*t, 2, 4), kStep)));

    t->ClearImage();
    t->PlotPoint(c);
    EXPECT_THAT(litPixels(*t), ElementsAre(Pair(at(*t, 6, 4), kStep)));

    // A point at the origin, once it is the previous point, stands for none: b is then drawn
    // at its own place.
    t->PlotPoint({0, 0, 0});
    t->PlotPoint(b);
    EXPECT_THAT(litPixels(*t), ElementsAre(Pair(at(*t, 6, 4), ColorRGBf{0.5f, 1.0f, 0.0f}),
                                           Pair(at(*t, 4, 6), kStep)));
}

TEST(LightPlot, SpeedAndTurnPickTheGradientPositions) {
    auto t = makeTarget(2);
    t->speedGradient = ramp({1, 0, 0});
    t->angleGradient = ramp({0, 1, 0});
    t->speedMin = 0;
    t->speedRange = 1;
    t->cosMin = -1;
    t->cosRange = 2;
    t->ClearImage();

    // Leaving (2, 0, 0) for a point 0.625 away, turning from the direction back to the origin
    // (no previous point: the origin stands in) by a cosine of 0.375 / 0.625 = 0.6.
    t->PlotPoint({2, 0, 0});
    t->PlotPoint({1.625, 0.5, 0});
    EXPECT_EQ(t->plotColor, (ColorRGBf{0.625f, 0.8f, 0}));
    // A repeated point: speed 0, and the zero step is not normalised, so the cosine is 0.
    t->PlotPoint({1.625, 0.5, 0});
    EXPECT_EQ(t->plotColor, (ColorRGBf{0, 0.5f, 0}));

    // Running straight on gives -1, turning back +1; a speed past the range takes the end.
    t->ClearImage();
    t->PlotPoint({1, 0, 0});
    t->PlotPoint({2, 0, 0});
    t->PlotPoint({3, 0, 0});
    EXPECT_EQ(t->plotColor, (ColorRGBf{1, 0, 0}));
    t->PlotPoint({1, 0, 0});
    EXPECT_EQ(t->plotColor, (ColorRGBf{1, 1, 0}));
}

TEST(LightPlot, ProjectPointAdvancesTheOrbitWithoutDrawing) {
    auto t = makeTarget(2);
    useFlatGradients(*t);
    t->ClearImage();
    const Vecd a{0.25, 0, 0}, b{0, 0.25, 0};
    Vecd out;
    t->ProjectPoint(a, out);
    EXPECT_EQ(out, t->project(a));
    t->ProjectPoint(b, out);
    EXPECT_EQ(out, t->project(a));
    EXPECT_EQ(t->before, a);
    EXPECT_EQ(t->last, b);
    EXPECT_EQ(t->plotColor, kStep);
    EXPECT_THAT(litPixels(*t), ElementsAre());
}

TEST(LightPlot, MirrorDrawsThePlottedPointAgainWithZNegated) {
    auto t = makeTarget(2);
    t->mirror = true;
    t->Rotate(4, 0);  // a quarter turn about y: object z now runs across the picture
    t->SetView();
    const Vecd a{0, 0, 0.25};
    const Vecd mirrored{0, 0, -0.25};
    Splat direct, image;
    ASSERT_TRUE(t->splatCell(t->project(a), direct));
    ASSERT_TRUE(t->splatCell(t->project(mirrored), image));
    ASSERT_NE(direct.index, image.index);

    // The first point after a clear is mirrored too, in the colour left from before.
    t->ClearImage();
    t->plotColor = kStep;
    t->PlotPoint(a);

    // The splat weights of each copy add up to 1 up to float rounding of the rotated position.
    const auto cellSum = [&](std::int32_t index) {
        const std::int32_t w = t->imageWidth;
        float sum = 0;
        for (std::int32_t k : {index, index + 1, index + w, index + w + 1})
            sum += t->lightBuffer[static_cast<std::size_t>(k)].g;
        return sum;
    };
    EXPECT_NEAR(cellSum(direct.index), 0.5f, 1e-6);
    EXPECT_NEAR(cellSum(image.index), 0.5f, 1e-6);
    float total = 0;
    for (const ColorRGBf& c : t->lightBuffer) total += c.g;
    EXPECT_NEAR(total, 1.0f, 2e-6);
}

TEST(LightScan, StatisticsScanFillsTheRangesFromTheThirdPointOn) {
    auto t = makeTarget(2);
    t->PlotPoint({5, 5, 5});
    t->PlotPoint({6, 5, 5});  // the scan must forget this orbit
    t->BeginScan(ScanKind::Plain);
    t->ScanPoint({1, 0, 0});
    t->ScanPoint({2, 0, 0});
    EXPECT_EQ(t->speedMin, TBitmap3D::kMaxDouble);
    EXPECT_EQ(t->cosMax, -TBitmap3D::kMaxDouble);
    t->ScanPoint({3, 0, 0});  // at (2, 0, 0): speed 1, straight on
    t->ScanPoint({1, 0, 0});  // at (3, 0, 0): speed 2, back
    t->EndScan();
    EXPECT_EQ(t->speedMin, 1);
    EXPECT_EQ(t->speedMax, 2);
    EXPECT_EQ(t->speedRange, 1);
    EXPECT_EQ(t->cosMin, -1);
    EXPECT_EQ(t->cosMax, 1);
    EXPECT_EQ(t->cosRange, 2);
    EXPECT_EQ(t->last, (Vecd{0, 0, 0}));
    // A plain scan leaves the bounds alone.
    EXPECT_EQ(t->boxMin.x, TBitmap3D::kMaxDouble);
}

TEST(LightScan, FitScanAlsoWidensTheBoundsAndCentres) {
    auto t = makeTarget(2);
    t->BeginScan(ScanKind::Fit);
    for (const Vecd& p : {Vecd{1, 0, 0}, Vecd{2, 0, 0}, Vecd{3, 0, 0}, Vecd{1, 0, 0}})
        t->ScanPoint(p);
    EXPECT_EQ(t->boxMin, (Vecd{1, 0, 0}));
    EXPECT_EQ(t->boxMax, (Vecd{3, 0, 0}));
    t->EndScan();
    EXPECT_EQ(t->centre, (Vecd{2, 0, 0}));
    EXPECT_EQ(t->speedRange, 1);
    EXPECT_EQ(t->cosRange, 2);
}

TEST(LightBuildImage, NormalisesByThePeakAndAppliesGammaAndLuminosity) {
    auto t = makeTarget(2);
    t->ClearImage();
    const int y = 3;
    t->lightBuffer[at(*t, 1, y)] = {16, 0, 0};
    t->lightBuffer[at(*t, 2, y)] = {0, 1, 0};
    t->lightBuffer[at(*t, 3, y)] = {0, 0, 0.25f};
    t->lightBuffer[at(*t, 4, y)] = {-1, 0, 0};
    t->lightBuffer[at(*t, 5, y)] = {0.5f, -2, 64};
    t->BuildImage();
    EXPECT_EQ(t->peak, 64);
    const std::uint8_t* line = t->scanLine(t->imageHeight - 1 - y);
    // Blue, green, red per pixel: sqrt(c / 64) * 4 * 255, clamped to 255 and truncated.
    // clang-format off
    EXPECT_THAT(std::vector<std::uint8_t>(line, line + 3 * 6),
                ElementsAre(0, 0, 0,      // never lit
                            0, 0, 255,    // 1/4: 510
                            0, 127, 0,    // 1/64: 127.5
                            63, 0, 0,     // 1/256: 63.75
                            0, 0, 0,      // nothing positive: black
                            255, 0, 90)); // the peak; a negative channel is 0; 1/128: 90.15
    // clang-format on
}

TEST(LightBuildImage, ChannelAtOneSixteenthOfThePeakIsWhiteWithTheDefaults) {
    auto t = makeTarget(2);
    t->ClearImage();
    t->lightBuffer[at(*t, 1, 1)] = {16, 16, 16};
    t->lightBuffer[at(*t, 2, 1)] = {1, 1, 1};
    t->BuildImage();
    const std::uint8_t* line = t->scanLine(t->imageHeight - 2);
    EXPECT_THAT(std::vector<std::uint8_t>(line + 6, line + 9), ElementsAre(255, 255, 255));
}

TEST(LightBuildImage, BufferWithoutPositiveChannelLeavesTheImageUntouched) {
    auto t = makeTarget(2);
    t->ClearImage();
    t->lightBuffer[at(*t, 3, 3)] = {1, 0.5f, 0.25f};
    t->BuildImage();
    const std::vector<std::uint8_t> before = t->imageBytes();
    for (ColorRGBf& c : t->lightBuffer) c = {-1, 0, -0.5f};
    t->BuildImage();
    EXPECT_EQ(t->peak, 0);
    EXPECT_EQ(t->imageBytes(), before);
}

TEST(PlasmaPlot, PointLevelWithTheSurfaceCountsHalf) {
    auto t = makeTarget(3);
    auto& plasma = dynamic_cast<TBitmap3D_Plasma&>(*t);
    useFlatGradients(*t);
    const Vecd a{0, 0.25, 0};
    expectPixel(*t, a, 4, 6);
    t->ClearImage();
    // Drawn first in black, a still pulls the surface to its depth ...
    t->PlotPoint(a);
    EXPECT_EQ(plasma.surface[at(*t, 4, 6)], static_cast<float>(t->project(a).z));
    // ... so drawn again in colour it lies level with it (h = 0).
    t->PlotPoint({0, 0.25, 1});
    EXPECT_THAT(litPixels(*t), ElementsAre(Pair(at(*t, 4, 6), ColorRGBf{0.125f, 0.25f, 0})));
}

TEST(PlasmaPlot, HiddenPointAddsNothingAndPointInFrontCountsFully) {
    auto t = makeTarget(3);
    auto& plasma = dynamic_cast<TBitmap3D_Plasma&>(*t);
    useFlatGradients(*t);
    const Vecd a{0, 0.25, 0}, behind{0, 0.25, 1}, front{0, 0.25, -1};
    const std::size_t k = at(*t, 4, 6);
    t->ClearImage();
    t->PlotPoint(a);
    t->PlotPoint(behind);  // draws a: the surface is at a's depth
    t->PlotPoint(front);   // draws behind: h = -10, hidden
    const ColorRGBf level = t->lightBuffer[k];
    EXPECT_EQ(level, (ColorRGBf{0.125f, 0.25f, 0}));
    EXPECT_EQ(plasma.surface[k], static_cast<float>(t->project(a).z));
    t->PlotPoint(a);  // draws front: h = +10, full weight, and the surface comes forward
    EXPECT_EQ(t->lightBuffer[k], (ColorRGBf{0.375f, 0.75f, 0}));
    EXPECT_EQ(plasma.surface[k], static_cast<float>(t->project(front).z));
    // A clear puts the surface back at the far plane: behind, drawn first in the colour left
    // from before, is no longer hidden.
    t->ClearImage();
    t->PlotPoint(behind);
    EXPECT_EQ(t->lightBuffer[k], kStep);
    // In Light nothing hides anything.
    auto light = makeTarget(2);
    useFlatGradients(*light);
    light->ClearImage();
    for (const Vecd& p : {a, behind, front, a}) light->PlotPoint(p);
    EXPECT_EQ(light->lightBuffer[k], (ColorRGBf{0.75f, 1.5f, 0}));
}

TEST(LightModeSwitch, LightAndPlasmaTakeOverRangesToneAndGradients) {
    auto light = makeTarget(2, 16, 12);
    light->luminosity = 7;
    light->gamma = 3;
    light->speedMin = 0.5;
    light->speedMax = 2.5;
    light->speedRange = 2;
    light->cosMin = -0.75;
    light->cosMax = 0.25;
    light->cosRange = 1;
    light->speedGradient = ramp({1, 0.5f, 0});
    light->angleGradient = flat({0, 0, 1});
    light->plotColor = kStep;

    const auto expectTakenOver = [&](const TBitmap3D_Light& t) {
        EXPECT_EQ(t.luminosity, 7);
        EXPECT_EQ(t.gamma, 3);
        EXPECT_EQ(t.speedMin, 0.5);
        EXPECT_EQ(t.speedMax, 2.5);
        EXPECT_EQ(t.speedRange, 2);
        EXPECT_EQ(t.cosMin, -0.75);
        EXPECT_EQ(t.cosMax, 0.25);
        EXPECT_EQ(t.cosRange, 1);
        EXPECT_EQ(t.speedGradient, light->speedGradient);
        EXPECT_EQ(t.angleGradient, light->angleGradient);
        EXPECT_EQ(t.plotColor, kBlack);
        EXPECT_EQ(t.lightBuffer.size(), 16u * 12u);
    };

    auto plasma = CreateRenderTarget(3, *light);
    ASSERT_NE(plasma, nullptr);
    EXPECT_EQ(plasma->renderMode(), RenderMode::Plasma);
    const auto& asPlasma = dynamic_cast<const TBitmap3D_Plasma&>(*plasma);
    expectTakenOver(asPlasma);
    EXPECT_EQ(asPlasma.surface, std::vector<float>(16 * 12, 1.0f));

    auto back = CreateRenderTarget(2, *plasma);
    EXPECT_EQ(back->renderMode(), RenderMode::Light);
    expectTakenOver(dynamic_cast<const TBitmap3D_Light&>(*back));
}

TEST(LightModeSwitch, FromAnotherModeTakesDefaultsAndScansPreviewPointsFromTheSecond) {
    auto gas = CreateRenderTarget(0);
    gas->SetWidth(8);
    gas->SetHeight(8);
    // Back and forth between (1, 0, 0) and (2, 0, 0): speed 1, turning back (cosine 1). The
    // first point, if scanned, would add a right angle (cosine 0).
    gas->previewPoints[0] = {1, 100, 0};
    for (std::size_t k = 1; k < gas->previewPoints.size(); ++k)
        gas->previewPoints[k] = {k % 2 ? 1.0 : 2.0, 0, 0};

    for (int mode : {2, 3}) {
        SCOPED_TRACE(mode);
        auto t = CreateRenderTarget(mode, *gas);
        const auto& light = dynamic_cast<const TBitmap3D_Light&>(*t);
        EXPECT_EQ(t->mode, mode);
        EXPECT_EQ(light.luminosity, 4.0);
        EXPECT_EQ(light.gamma, 2.0);
        EXPECT_EQ(light.speedMin, 1);
        EXPECT_EQ(light.speedMax, 1);
        EXPECT_EQ(light.speedRange, 0);
        EXPECT_EQ(light.cosMin, 1);
        EXPECT_EQ(light.cosRange, 0);
        EXPECT_EQ(light.last, (Vecd{0, 0, 0}));
        EXPECT_EQ(light.speedGradient.count(), 0u);
    }
}

// The block path must give the same bits as the one-point path: the orbit memory runs across
// block boundaries, and Plasma's surface depends on the order of the points.
TEST(LightPlotBlock, GivesExactlyTheBuffersOfPlotPointOneAtATime) {
    std::vector<Vecd> orbit;
    for (int k = 0; k < 600; ++k)
        orbit.push_back(
            {0.45 * std::cos(0.37 * k), 0.35 * std::sin(0.53 * k), 0.4 * std::sin(0.29 * k)});
    orbit[5] = {0, 0, 0};
    orbit[9] = orbit[8];

    // Blocks on one vector path, points on the other, where the processor has both.
    for (int run = 0; run < 8; ++run) {
        const int mode = 2 + run % 2;
        const bool mirror = run % 4 >= 2;
        const bool wideBlocks = run < 4;
        SCOPED_TRACE(testing::Message() << "mode " << mode << " mirror " << mirror
                                        << (wideBlocks ? " blocks AVX2" : " points AVX2"));
        std::unique_ptr<TBitmap3D_Light> targets[2] = {makeTarget(mode, 16, 12),
                                                       makeTarget(mode, 16, 12)};
        for (auto& t : targets) {
            loadDefaultGradients("/nonexistent-folder", t->speedGradient, t->angleGradient);
            t->mirror = mirror;
            t->Rotate(3, 2);
            t->SetView();
            t->BeginScan(ScanKind::Plain);
            for (const Vecd& p : orbit) t->ScanPoint(p);
            t->EndScan();
            t->ClearImage();
        }
        auto& blocks = *targets[0];
        auto& single = *targets[1];
        // Blocks that end inside a chunk and span several.
        {
            const LanesScope lanes(wideBlocks);
            blocks.PlotBlock(orbit.data(), 7);
            blocks.PlotBlock(orbit.data() + 7, 256);
            blocks.PlotBlock(orbit.data() + 263, static_cast<std::int32_t>(orbit.size()) - 263);
        }
        {
            const LanesScope lanes(!wideBlocks);
            for (const Vecd& p : orbit) single.PlotPoint(p);
        }

        EXPECT_FALSE(litPixels(single).empty());
        EXPECT_EQ(blocks.lightBuffer, single.lightBuffer);
        EXPECT_EQ(blocks.plotColor, single.plotColor);
        EXPECT_EQ(blocks.last, single.last);
        if (mode == 3) {
            EXPECT_EQ(dynamic_cast<TBitmap3D_Plasma&>(blocks).surface,
                      dynamic_cast<TBitmap3D_Plasma&>(single).surface);
        }
        blocks.BuildImage();
        single.BuildImage();
        EXPECT_EQ(blocks.imageBytes(), single.imageBytes());
    }
}

// The colour of one point as orbitTurn defines it, computed alone: the reference for the
// chunks, which share each step's unit vector between two turns.
ColorRGBf turnColour(const TBitmap3D_Light& t, const Vecd& a, const Vecd& b, const Vecd& c) {
    Vecd u = a - b;
    Vecd v = c - b;
    const double lengthU = std::sqrt(dot(u, u));
    const double speed = std::sqrt(dot(v, v));
    if (lengthU != 0) u = {u.x / lengthU, u.y / lengthU, u.z / lengthU};
    if (speed != 0) v = {v.x / speed, v.y / speed, v.z / speed};
    const double cosine = dot(u, v);
    const ColorRGBf s = t.speedGradient.ColorAt((speed - t.speedMin) / t.speedRange);
    const ColorRGBf g = t.angleGradient.ColorAt((cosine - t.cosMin) / t.cosRange);
    return {s.r + g.r, s.g + g.g, s.b + g.b};
}

bool sameColour(const ColorRGBf& a, const ColorRGBf& b) {
    // A NaN sum may carry either operand's NaN.
    const auto same = [](float x, float y) {
        return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y) ||
               (x != x && y != y);
    };
    return same(a.r, b.r) && same(a.g, b.g) && same(a.b, b.b);
}

TEST(LightColourChunk, ColoursEveryPointAsItsOwnTurnDoes) {
    // Orbits with repeated points, single repeated coordinates, the origin (no point), steps so
    // small that their squares vanish, huge and non-finite coordinates.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1, 1);
    auto target = makeTarget(2);
    for (int run = 0; run < 80; ++run) {
        // Each path, where the processor has both: the odd runs on SSE2 alone.
        const LanesScope lanes(run % 2 == 0);
        SCOPED_TRACE(lanes.name());
        std::vector<Vecd> orbit(1000);
        Vecd p{0.3, -0.2, 0.1};
        for (Vecd& q : orbit) {
            switch (rng() % 16) {
                case 0:
                    break;  // the same point again
                case 1:
                    p.x = unit(rng);  // one coordinate moves
                    break;
                case 2:
                    p = {0, 0, 0};
                    break;
                case 3:
                    p = {p.x + unit(rng) * 1e-170, p.y, p.z - unit(rng) * 1e-300};
                    break;
                case 4:
                    p = {unit(rng) * 1e200, unit(rng), -0.0};
                    break;
                case 5:
                    if (run % 8 >= 6) p = {INFINITY, p.y, std::nan("")};
                    break;
                default:
                    p = {p.x + 0.1 * unit(rng), p.y + 0.1 * unit(rng), p.z + 0.1 * unit(rng)};
            }
            q = p;
        }
        TBitmap3D_Light& t = *target;
        if (run % 4 < 2) {
            loadDefaultGradients("/nonexistent-folder", t.speedGradient, t.angleGradient);
        } else {
            // Colour-map stops with arbitrary bytes.
            t.speedGradient.Clear();
            t.angleGradient.Clear();
            for (int k = 0; k < 64; ++k) {
                const auto byte = [&rng] { return static_cast<float>(rng() % 256) / 255.0f; };
                t.speedGradient.AddStop(k / 63.0, {byte(), byte(), byte()});
                t.angleGradient.AddStop(k / 63.0, {byte(), byte(), byte()});
            }
        }
        t.BeginScan(ScanKind::Plain);
        for (std::size_t k = 0; k < 300; ++k) t.ScanPoint(orbit[k * 3]);
        t.EndScan();

        Vecd before{0, 0, 0}, last{0, 0, 0};
        ColorRGBf colour{0.5f, 0.25f, 0.125f};
        Vecd refBefore = before, refLast = last;
        ColorRGBf refColour = colour;
        std::size_t start = 0;
        while (start < orbit.size()) {
            const auto count = static_cast<std::int32_t>(
                std::min<std::size_t>(1 + rng() % TBitmap3D::kSplatChunk, orbit.size() - start));
            Vecd plotted[TBitmap3D::kSplatChunk];
            ColorRGBf colours[TBitmap3D::kSplatChunk];
            t.colourChunk(before, last, colour, orbit.data() + start, count, plotted, colours);
            for (std::int32_t i = 0; i < count; ++i) {
                const Vecd& q = orbit[start + static_cast<std::size_t>(i)];
                const bool set = refLast.x != 0 || refLast.y != 0 || refLast.z != 0;
                if (set) refColour = turnColour(t, refBefore, refLast, q);
                const Vecd drawn = set ? refLast : q;
                ASSERT_TRUE(sameColour(colours[i], refColour))
                    << "run " << run << " point " << start + static_cast<std::size_t>(i) << ": "
                    << colours[i] << " instead of " << refColour;
                using Bits = std::array<std::uint64_t, 3>;
                ASSERT_EQ(std::bit_cast<Bits>(plotted[i]), std::bit_cast<Bits>(drawn));
                refBefore = refLast;
                refLast = q;
            }
            start += static_cast<std::size_t>(count);
        }
        EXPECT_TRUE(sameColour(colour, refColour));
    }
}

TEST(PlasmaPlot, BlockSplatsAsTheDepthTestDoesPixelByPixel) {
    // A shallow depth range puts many pixels in the partial band -1 < h <= 0, beside hidden
    // ones and ones in front; the reference is the scalar depth test on copies of the buffers.
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> unit(-0.45, 0.45);
    std::uniform_real_distribution<float> depth(0.3f, 0.7f), light(0.0f, 3.0f);
    for (int run = 0; run < 4; ++run) {
        auto target = makeTarget(3, 64, 48);
        auto& t = dynamic_cast<TBitmap3D_Plasma&>(*target);
        t.mirror = run % 2 == 1;
        loadDefaultGradients("/nonexistent-folder", t.speedGradient, t.angleGradient);
        t.Rotate(7, 3);
        t.SetView();
        std::vector<Vecd> orbit(3000);
        for (Vecd& p : orbit) p = {unit(rng), unit(rng), unit(rng)};
        t.BeginScan(ScanKind::Plain);
        for (const Vecd& p : orbit) t.ScanPoint(p);
        t.EndScan();
        t.ClearImage();
        t.depthRange = run < 2 ? 0.02 : 49.0;
        for (float& f : t.surface) f = depth(rng);
        for (ColorRGBf& c : t.lightBuffer) c = {light(rng), light(rng), light(rng)};

        std::vector<float> surface = t.surface;
        std::vector<ColorRGBf> buffer = t.lightBuffer;
        Vecd before = t.before, last = t.last;
        ColorRGBf colour = t.plotColor;
        for (const Vecd& p : orbit) {
            Vecd q;
            ColorRGBf c;
            t.colourChunk(before, last, colour, &p, 1, &q, &c);
            const auto splat = [&](const Vecd& point) {
                t.splatBehindSurface(t.project(point), surface.data(),
                                     [&](std::size_t at, float w, float m) {
                                         buffer[at].r += c.r * w * m;
                                         buffer[at].g += c.g * w * m;
                                         buffer[at].b += c.b * w * m;
                                     });
            };
            splat(q);
            if (t.mirror) splat({q.x, q.y, -q.z});
        }
        t.PlotBlock(orbit.data(), static_cast<std::int32_t>(orbit.size()));
        EXPECT_EQ(t.surface, surface) << "run " << run;
        EXPECT_EQ(t.lightBuffer, buffer) << "run " << run;
    }
}

}  // namespace
}  // namespace qm
