// Gas and Liquid: density accumulation, the depth surface, and grey development.
#include "core/render/gas.h"

#include "core/attractor/random31.h"
#include "core/math/cr_exp_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace qm {
namespace {

std::unique_ptr<TBitmap3D> makeTarget(int mode) {
    auto t = CreateRenderTarget(mode);
    t->SetWidth(16);
    t->SetHeight(12);
    t->SetEye({0, 0, -5});
    t->SetTarget({0, 0, 0});
    t->ClearImage();
    return t;
}

// A point whose pixel coordinates are (px, py): a splat there puts its whole weight on pixel
// (px, py). For the default camera (no rotation, scale 1) x is mirrored.
Vecd onPixel(const TBitmap3D& t, int px, int py, double z) {
    const double x = 1 - px * 2.0 / t.imageWidth;
    const double y = py * 2.0 / t.imageHeight - 1;
    return {x * t.viewWidth / 2, y * t.viewHeight / 2, z};
}

TEST(Gas, DevelopsGreyWithItsToneCurve) {
    auto t = makeTarget(0);
    auto& gas = static_cast<TBitmap3D_Gas&>(*t);
    gas.density[3 + 4 * 16] = 1.0f;                  // the peak: white
    gas.density[5 + 4 * 16] = 0.17677669529663687f;  // 0.5^2.5: (0.5^2.5)^0.4 x 510 = 255
    gas.density[7 + 4 * 16] = 0.01f;
    gas.BuildImage();
    EXPECT_EQ(gas.peak, 1.0f);
    auto pixel = [&](int x, int y) { return t->scanLine(11 - y) + 3 * x; };
    EXPECT_EQ(pixel(3, 4)[0], 255);
    EXPECT_GE(pixel(5, 4)[0], 254);
    const int expected =
        static_cast<int>(static_cast<float>(crm::pow(0.01, static_cast<double>(0.4f))) * 510.0f);
    EXPECT_EQ(pixel(7, 4)[0], expected);
    for (std::size_t k = 0; k < t->imageBytes().size(); k += 3) {
        ASSERT_EQ(t->imageBytes()[k], t->imageBytes()[k + 1]);
        ASSERT_EQ(t->imageBytes()[k], t->imageBytes()[k + 2]);
    }
}

TEST(Gas, ExtremeToneSettingsGiveBlackOrWhiteNeverAWrappedByte) {
    // An infinite brightness times a level that underflowed to 0 is NaN, and a negative
    // brightness a negative level: both develop black instead of an undefined conversion
    // (or a truncation wrapped around to a bright byte). The peak stays white.
    for (const double luminosity : {1e300, -1.0, -1e300}) {
        auto t = makeTarget(0);
        auto& gas = static_cast<TBitmap3D_Gas&>(*t);
        gas.density[3 + 4 * 16] = 1.0f;
        gas.density[5 + 4 * 16] = 0.5f;
        gas.luminosity = luminosity;
        gas.gamma = 0.0001;
        gas.BuildImage();
        auto pixel = [&](int x, int y) { return t->scanLine(11 - y)[3 * x]; };
        EXPECT_EQ(pixel(3, 4), luminosity > 0 ? 255 : 0) << luminosity;
        EXPECT_EQ(pixel(5, 4), 0) << luminosity;
    }
}

TEST(Gas, EmptyBuffersLeaveTheImageAsCleared) {
    auto t = makeTarget(0);
    std::vector<std::uint8_t> before = t->imageBytes();
    t->BuildImage();
    EXPECT_EQ(t->imageBytes(), before);
}

TEST(Gas, PointOnAPixelGivesItTheWholeWeight) {
    auto t = makeTarget(0);
    const Vecd p = onPixel(*t, 6, 5, 0);
    const Vecd px = t->project(p);
    ASSERT_NEAR(px.x, 6, 1e-12);
    ASSERT_NEAR(px.y, 5, 1e-12);
    t->PlotPoint(p);
    EXPECT_NEAR(static_cast<TBitmap3D_Gas&>(*t).density[6 + 5 * 16], 1.0f, 1e-6);
}

// The bits of a buffer: NaN surfaces compare equal to themselves, and -0 differs from 0.
std::vector<std::uint32_t> bitsOf(const std::vector<float>& v) {
    std::vector<std::uint32_t> bits(v.size());
    std::memcpy(bits.data(), v.data(), v.size() * sizeof(float));
    return bits;
}

// Points inside, on the border, far outside and not finite; for the depth surface, points
// centred on a pixel (weights 0 and 1) and plotted again at the same depth (level with the
// surface, h = 0), and depths beyond float's range, which turn the surface infinite or NaN.
std::vector<Vecd> awkwardPoints(const TBitmap3D& t) {
    std::vector<Vecd> points;
    Random31 rng{5};
    for (int i = 0; i < 3001; ++i) {
        const double u = rng.uniform() * 1.4 - 0.7, v = rng.uniform() * 1.1 - 0.55;
        points.push_back({u, v, rng.uniform() - 0.5});
        if (i % 97 == 0) points.push_back({NAN, 0.1, 0});
        if (i % 89 == 0) points.push_back({1e300, -1e300, 0});
        if (i % 83 == 0) points.push_back({INFINITY, 0.1, 0});
        if (i % 61 == 0) {
            const Vecd centred = onPixel(t, 1 + i % 14, 1 + i % 10, rng.uniform() - 0.5);
            points.push_back(centred);
            points.push_back(centred);
            // Plotted again and again, a point pulls the surface onto its own depth.
            for (int k = 0; k < 30; ++k) points.push_back({u, v, 0.25});
        }
        if (i % 331 == 0) points.push_back({u, v, i % 662 == 0 ? 1e300 : -1e300});
        if (i % 127 == 0) points.push_back({u, v, i % 254 == 0 ? 3e38 : -1e39});
    }
    return points;
}

TEST(GasAndLiquid, BlockSplatEqualsOnePointAtATime) {
    // In blocks of odd sizes, with and without the mirror, zoomed in and out: the buffers
    // must have exactly the bits PlotPoint gives.
    for (int mode : {0, 1})
        for (bool mirror : {false, true})
            for (const auto& [zoom, range] :
                 {std::pair{1.0, 0.0}, {37.0, 0.0}, {1e-30, 0.0}, {1.0, 1e-41}}) {
                auto one = makeTarget(mode), block = makeTarget(mode);
                for (auto* t : {one.get(), block.get()}) {
                    t->mirror = mirror;
                    t->scale = zoom;
                    t->SetView();
                    // A depth range so small that h underflows to 0 for small differences.
                    if (range > 0) t->depthRange = range;
                }
                const std::vector<Vecd> points = awkwardPoints(*one);
                for (const Vecd& p : points) one->PlotPoint(p);
                std::size_t done = 0;
                for (std::size_t size = 1; done < points.size(); size = size * 2 + 1) {
                    const std::size_t n = std::min(size, points.size() - done);
                    block->PlotBlock(points.data() + done, static_cast<std::int32_t>(n));
                    done += n;
                }
                const auto& a = static_cast<TBitmap3D_Gas&>(*one);
                const auto& b = static_cast<TBitmap3D_Gas&>(*block);
                EXPECT_EQ(bitsOf(a.density), bitsOf(b.density))
                    << "mode " << mode << " mirror " << mirror << " zoom " << zoom << " range "
                    << range;
                if (mode == 1) {
                    EXPECT_EQ(bitsOf(static_cast<TBitmap3D_Liquid&>(*one).surface),
                              bitsOf(static_cast<TBitmap3D_Liquid&>(*block).surface))
                        << "mirror " << mirror << " zoom " << zoom << " range " << range;
                }
            }
}

TEST(GasFixed, SumsDoNotDependOnHowThePointsAreSharedOut) {
    // The same points, mirrored, in one buffer in order, in three buffers dealt round robin
    // and backwards, and added atomically: the integers must agree exactly, whatever path
    // (pairs with SSE2 or one point at a time) each splat took.
    std::vector<Vecd> points;
    Random31 rng{11};
    for (int i = 0; i < 5000; ++i)
        points.push_back({rng.uniform() * 1.4 - 0.7, rng.uniform() * 1.1 - 0.55, rng.uniform()});
    points.push_back({NAN, 0.1, 0});
    auto whole = makeTarget(0), dealt = makeTarget(0), shared = makeTarget(0);
    auto& a = static_cast<TBitmap3D_Gas&>(*whole);
    auto& b = static_cast<TBitmap3D_Gas&>(*dealt);
    auto& c = static_cast<TBitmap3D_Gas&>(*shared);
    for (TBitmap3D_Gas* t : {&a, &b, &c}) {
        t->mirror = true;
        t->fixedDensity.assign(t->density.size(), 0);
    }
    const auto n = static_cast<std::int32_t>(points.size());
    GasFixedSums one;
    one.assign(a.density.size());
    a.PlotBlockFixed(points.data(), n, one);
    GasFixedSums parts[3];
    for (auto& part : parts) part.assign(b.density.size());
    for (std::int32_t i = n - 1; i >= 0; --i) b.PlotBlockFixed(&points[i], 1, parts[i % 3]);
    c.PlotBlockShared(points.data(), n);

    GasFixedSums* onePointer[] = {&one};
    GasFixedSums* partPointers[] = {&parts[0], &parts[1], &parts[2]};
    a.developFixed(onePointer, 1, 0, a.imageHeight);
    // A development that leaves the threads' sums in place gives the same density.
    b.developFixed(partPointers, 3, 0, b.imageHeight, false);
    EXPECT_EQ(a.density, b.density);
    // Two developments by rows, in either order, add up the same.
    b.developFixed(partPointers, 3, 5, b.imageHeight);
    b.developFixed(partPointers, 3, 0, 5);
    c.developFixed(nullptr, 0, 0, c.imageHeight);
    EXPECT_EQ(a.fixedDensity, b.fixedDensity);
    EXPECT_EQ(a.fixedDensity, c.fixedDensity);
    EXPECT_EQ(a.density, b.density);
    EXPECT_EQ(a.density, c.density);
    for (const auto& part : parts) EXPECT_EQ(part.low, std::vector<std::uint32_t>(part.low.size()));

    // The fixed-point density is the float one within the units' truncation: each of the
    // pixel's splats loses less than one unit.
    auto floats = makeTarget(0);
    floats->mirror = true;
    floats->PlotBlock(points.data(), n);
    const auto& expected = static_cast<TBitmap3D_Gas&>(*floats).density;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(a.density[i], expected[i], 2 * n * 0x1p-25 + 1e-5 * expected[i]) << i;
}

TEST(GasFixed, TheLowWordCarriesIntoTheHighWord) {
    // A whole weight is 2^25 units: 300 of them pass 2^32 twice.
    auto t = makeTarget(0);
    auto& gas = static_cast<TBitmap3D_Gas&>(*t);
    gas.fixedDensity.assign(gas.density.size(), 0);
    const std::vector<Vecd> points(300, onPixel(*t, 6, 5, 0));
    GasFixedSums sums;
    sums.assign(gas.density.size());
    for (int i = 0; i < 3; ++i) gas.PlotBlockFixed(points.data(), 100, sums);
    GasFixedSums* pointer[] = {&sums};
    gas.developFixed(pointer, 1, 0, gas.imageHeight);
    EXPECT_EQ(gas.fixedDensity[6 + 5 * 16], std::int64_t{300} << kGasFixedBits);
    EXPECT_EQ(gas.density[6 + 5 * 16], 300.0f);
}

TEST(GasFixed, SumsSaturateAtTheLimitInsteadOfWrapping) {
    // Sums seeded a few weights below 2^63 - 1, as some 10^11 iterations on one pixel would
    // leave them: every path (a thread's words, the atomic sums, both developments) stops at
    // the limit, and a pixel far from it is untouched.
    auto t = makeTarget(0);
    auto& gas = static_cast<TBitmap3D_Gas&>(*t);
    const std::size_t p = 6 + 5 * 16, far = 2 + 2 * 16;
    const std::int64_t weight = std::int64_t{1} << kGasFixedBits;
    const std::vector<Vecd> points(4, onPixel(*t, 6, 5, 0));
    auto seeded = [&](std::int64_t below) {
        GasFixedSums sums;
        sums.assign(gas.density.size());
        const auto v = static_cast<std::uint64_t>(kGasFixedLimit - below);
        sums.high[p] = static_cast<std::uint32_t>(v / GasFixedSums::kHighUnit);
        sums.low[p] = static_cast<std::uint32_t>(v % GasFixedSums::kHighUnit);
        sums.low[far] = 7;
        return sums;
    };
    // A thread's words: full high word, the low word carrying.
    GasFixedSums sums = seeded(2 * weight);
    gas.PlotBlockFixed(points.data(), 4, sums);
    EXPECT_EQ(sums.at(p), kGasFixedLimit);
    EXPECT_EQ(sums.at(far), 7);
    gas.PlotBlockFixed(points.data(), 4, sums);
    EXPECT_EQ(sums.at(p), kGasFixedLimit);

    // Developments: two threads' sums that together pass the limit, with and without fold.
    GasFixedSums a = seeded(3 * weight), b = seeded(3 * weight);
    GasFixedSums* parts[] = {&a, &b};
    gas.fixedDensity.assign(gas.density.size(), 0);
    gas.fixedDensity[far] = 5;
    gas.developFixed(parts, 2, 0, gas.imageHeight, false);
    EXPECT_EQ(gas.density[p], TBitmap3D_Gas::fixedToFloat(kGasFixedLimit));
    gas.developFixed(parts, 2, 0, gas.imageHeight);
    EXPECT_EQ(gas.fixedDensity[p], kGasFixedLimit);
    EXPECT_EQ(gas.fixedDensity[far], 19);
    EXPECT_EQ(gas.density[p], TBitmap3D_Gas::fixedToFloat(kGasFixedLimit));
    EXPECT_GT(gas.density[p], 2.7e11f);

    // The atomic sums, and a fold into a saturated sum.
    gas.fixedDensity[p] = kGasFixedLimit - weight;
    gas.PlotBlockShared(points.data(), 4);
    EXPECT_EQ(gas.fixedDensity[p], kGasFixedLimit);
    GasFixedSums c = seeded(kGasFixedLimit - weight);
    GasFixedSums* one[] = {&c};
    gas.developFixed(one, 1, 0, gas.imageHeight);
    EXPECT_EQ(gas.fixedDensity[p], kGasFixedLimit);
}

TEST(Liquid, FrontSurfaceHidesWhatLiesBehind) {
    auto t = makeTarget(1);
    auto& liquid = static_cast<TBitmap3D_Liquid&>(*t);
    const int k = 6 + 5 * 16;
    const Vecd nearPoint = onPixel(*t, 6, 5, -1);  // depth about 3/49
    const Vecd farPoint = onPixel(*t, 6, 5, 2);    // depth about 6/49

    t->PlotPoint(nearPoint);  // meets the far plane: counts fully and builds the surface
    EXPECT_NEAR(liquid.density[k], 1.0f, 1e-5);
    EXPECT_NEAR(liquid.surface[k], 3.0f / 49, 1e-5);
    t->PlotPoint(farPoint);  // h about -30: hidden
    EXPECT_NEAR(liquid.density[k], 1.0f, 1e-5);
    t->PlotPoint(nearPoint);  // level with the surface: counts half
    EXPECT_NEAR(liquid.density[k], 1.5f, 1e-4);
}

TEST(Liquid, ZoomingMakesTheSurfaceTestStricter) {
    // The origin lands on the centre of pixel (8, 6) at any zoom. With the surface a little
    // in front of it, it counts partly at scale 1 and not at all zoomed in 20 times.
    for (double zoom : {1.0, 20.0}) {
        auto t = makeTarget(1);
        t->scale = zoom;
        t->SetView();
        auto& liquid = static_cast<TBitmap3D_Liquid&>(*t);
        const int k = 8 + 6 * 16;
        const Vecd px = t->project({0, 0, 0});
        ASSERT_EQ(px.x, 8);
        liquid.surface[k] = static_cast<float>(px.z - 0.1 / (49 * 10));  // h = -0.1 x zoom
        t->PlotPoint({0, 0, 0});
        if (zoom == 1.0)
            EXPECT_NEAR(liquid.density[k], 0.45f, 1e-3);
        else
            EXPECT_EQ(liquid.density[k], 0.0f);
    }
}

}  // namespace
}  // namespace qm
