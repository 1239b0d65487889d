#include "core/render/solid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "core/math/cr_exp_log.h"

namespace qm {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::unique_ptr<TBitmap3D_Solid> makeSolid(std::int32_t width, std::int32_t height) {
    auto target = CreateRenderTarget(4);
    EXPECT_NE(dynamic_cast<TBitmap3D_Solid*>(target.get()), nullptr);
    std::unique_ptr<TBitmap3D_Solid> solid(static_cast<TBitmap3D_Solid*>(target.release()));
    solid->SetWidth(width);
    solid->SetHeight(height);
    solid->SetEye({0, 0, -5});
    solid->SetTarget({0, 0, 0});
    return solid;
}

// A Lorenz orbit (10, 28, 8/3) by Euler steps of 0.005, after a transient of 500 steps.
std::vector<Vecd> lorenzOrbit(int n) {
    std::vector<Vecd> out;
    Vecd p{1, 1, 1};
    for (int i = 0; i < n + 500; ++i) {
        const double dt = 0.005;
        p = {p.x + dt * 10 * (p.y - p.x), p.y + dt * (p.x * (28 - p.z) - p.y),
             p.z + dt * (p.x * p.y - 8.0 / 3 * p.z)};
        if (i >= 500) out.push_back(p);
    }
    return out;
}

// The preview ring holds a Lorenz orbit fitted to the view; ClearImage fits the light maps.
std::unique_ptr<TBitmap3D_Solid> makeLorenzScene() {
    auto t = makeSolid(64, 48);
    t->BeginScan(ScanKind::Fit);
    for (const Vecd& p : lorenzOrbit(TBitmap3D::kPreviewSize)) {
        t->ScanPoint(p);
        t->AddPreviewPoint(p);
    }
    t->EndScan();
    t->ClearImage();
    return t;
}

// A light looking along +z from (0, 0, -1), fitted to the cube -1..1 and cleared. Its space is
// (-x, y, z + 1), so map column mx lies at object x = b * (1 - mx / 400), b = 1 + softness.
Light cubeLight() {
    Light light;
    light.SetDirection({0, 0, 1});
    light.BeginScan();
    for (double x : {-1.0, 1.0})
        for (double y : {-1.0, 1.0})
            for (double z : {-1.0, 1.0}) light.ScanPoint({x, y, z});
    light.EndScan();
    light.Clear();
    return light;
}

void fillMaps(Light& light, float density, float depth) {
    std::fill(light.mapSamples.begin(), light.mapSamples.end(), DepthSample{density, depth});
    light.FindPeak();
}

// Bit for bit: a -0 or a NaN where the other has +0 or the same NaN counts as a difference.
bool sameBits(const DepthBuffer& a, const DepthBuffer& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

void expectSameBuffers(const TBitmap3D_Solid& a, const TBitmap3D_Solid& b) {
    EXPECT_TRUE(sameBits(a.samples, b.samples));
    for (std::size_t i = 0; i < a.lights.size(); ++i)
        EXPECT_TRUE(sameBits(a.lights[i]->mapSamples, b.lights[i]->mapSamples)) << "light " << i;
}

std::vector<int> pixelAt(const TBitmap3D& t, std::int32_t x, std::int32_t y) {
    const std::uint8_t* px = t.scanLine(t.imageHeight - 1 - y) + 3 * x;
    return {px[0], px[1], px[2]};
}

std::vector<int> backgroundBytes(const TBitmap3D& t) {
    const auto& c = t.backgroundColor;
    return {TBitmap3D::channelByte(c.b), TBitmap3D::channelByte(c.g), TBitmap3D::channelByte(c.r)};
}

TEST(LightSource, SetDirectionNormalisesAndKeepsAnOrthonormalFrame) {
    Light light;
    light.SetDirection({3, 0, 4});
    EXPECT_EQ(light.direction, (Vecd{0.6, 0, 0.8}));
    light.SetDirection({0, 0, 0});
    EXPECT_EQ(light.direction, (Vecd{0.6, 0, 0.8}));

    // Tolerance: a few roundings of the normalisation and the cross products.
    for (const Vecd& d : {Vecd{0.8, 0.1, 0.2}, Vecd{-0.9, -0.15, -0.08}, Vecd{-0.4, 0.85, 1.0}}) {
        light.SetDirection(d);
        const Vecd frame[3] = {light.direction, light.right, light.up};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(dot(frame[i], frame[j]), i == j ? 1 : 0, 1e-15) << d << i << j;
    }
}

TEST(LightSource, ComputeMatrixMapsTheScannedBoxWithItsMarginOntoTheWholeMap) {
    Light light;
    light.SetDirection({0, 0, 1});
    light.BeginScan();
    // In this light's space (-x, y, z + 1) the box is (-1, 3, 0.5)..(2, 5, 1.5).
    for (double x : {-2.0, 1.0})
        for (double y : {3.0, 5.0})
            for (double z : {-0.5, 0.5}) light.ScanPoint({x, y, z});
    light.EndScan();
    ASSERT_TRUE(light.hasMap());
    EXPECT_EQ(light.softness, static_cast<double>(0.0125f));

    // The box scaled by 1 + softness covers the map exactly. Tolerance: matrix roundings.
    const double b = 1 + light.softness;
    const Vecd low = light.mapCoordinates({b, 3 * b, 0.5 * b - 1});
    const Vecd high = light.mapCoordinates({-2 * b, 5 * b, 1.5 * b - 1});
    EXPECT_NEAR(low.x, 0, 1e-9);
    EXPECT_NEAR(low.y, 0, 1e-9);
    EXPECT_NEAR(low.z, 0, 1e-12);
    EXPECT_NEAR(high.x, 800, 1e-9);
    EXPECT_NEAR(high.y, 800, 1e-9);
    EXPECT_NEAR(high.z, 1, 1e-12);
}

TEST(LightSource, VisibilityIsFullInFrontDarkBehindAndSoftJustBehind) {
    Light light = cubeLight();
    // A dense square of the plane z = 0.
    for (double x = -0.5; x <= 0.5; x += 0.002)
        for (double y = -0.5; y <= 0.5; y += 0.002) light.Splat({x, y, 0});
    light.FindPeak();
    EXPECT_EQ(light.Visibility({0.1, 0.2, -0.4}), 1.0f);  // in front
    EXPECT_EQ(light.Visibility({0.1, 0.2, 0.4}), 0.0f);   // behind: opacity 8 makes it opaque
    EXPECT_EQ(light.Visibility({0.8, 0.2, 0.4}), 1.0f);   // behind, but beside the square
    EXPECT_EQ(light.Visibility({5, 0, 0.4}), 1.0f);       // outside the map

    // A thin uniform layer (density 0.02 of a peak of 1) at a chosen depth before p.
    fillMaps(light, 0.02f, 0);
    light.mapSamples[801].density = 1;
    light.FindPeak();
    const double occlusion = std::pow(0.02 * 8, 1.0 / 8);
    const Vecd p{0.1, 0.2, 0.3};
    const double d = light.mapCoordinates(p).z;
    // Tolerance: the layer's depth is a float (3e-8, over a softness of 0.0125).
    for (double behind : {2.0, 0.5, 0.01, -1.0}) {
        for (DepthSample& s : light.mapSamples)
            s.depth = static_cast<float>(d - behind * light.softness);
        const double expected = behind < 0 ? 1 : 1 - occlusion * std::min(behind, 1.0);
        EXPECT_NEAR(light.Visibility(p), expected, 1e-5) << behind;
    }
}

TEST(LightSource, BoxWithoutExtentKeepsNoMapAndLightsEverything) {
    const std::vector<std::vector<Vecd>> clouds = {
        {{0.3, 0.3, 0.3}, {0.3, 0.3, 0.3}},        // one place
        {{-1, -1, 0}, {1, 1, 0}, {0.5, -0.2, 0}},  // flat, facing the light
        {},                                        // no point
        {{0, 0, 0}, {1, 1, 1}, {kInf, 0, 0}},      // an infinite point
    };
    for (std::size_t c = 0; c < clouds.size(); ++c) {
        Light light;
        light.SetDirection({0, 0, 1});
        light.Clear();
        light.BeginScan();
        for (const Vecd& p : clouds[c]) light.ScanPoint(p);
        light.EndScan();
        EXPECT_FALSE(light.hasMap()) << c;
        light.Splat({0.3, 0.3, 0.3});
        light.FindPeak();
        EXPECT_EQ(light.mapPeak, 0.0f) << c;
        // Even a map holding an opaque surface in front of everything casts no shadow.
        fillMaps(light, 1, 0);
        EXPECT_EQ(light.Visibility({0.3, 0.3, 0.3}), 1.0f) << c;
    }
}

TEST(LightSource, PointsOffTheMapOrNotFiniteOrUnderAnEmptyMapAreFullyLit) {
    Light light = cubeLight();
    fillMaps(light, 1, 0);  // an opaque surface in front of everything the map covers
    const auto samples = light.mapSamples;

    // The border columns 0 and 799 count as off the map.
    const double b = 1 + light.softness;
    auto atColumn = [&](double mx) { return Vecd{b * (1 - mx / 400), 0, 0.5}; };
    ASSERT_NEAR(light.mapCoordinates(atColumn(1.001)).x, 1.001, 1e-9);
    EXPECT_EQ(light.Visibility(atColumn(0.999)), 1.0f);
    EXPECT_EQ(light.Visibility(atColumn(1.001)), 0.0f);
    EXPECT_EQ(light.Visibility(atColumn(798.999)), 0.0f);
    EXPECT_EQ(light.Visibility(atColumn(799.001)), 1.0f);

    for (const Vecd& p : {Vecd{kNaN, 0, 0}, Vecd{0, 0, kInf}, Vecd{-kInf, kInf, 0},
                          Vecd{1e300, 0, 0}, Vecd{0, -1e300, 0}}) {
        EXPECT_EQ(light.Visibility(p), 1.0f) << p;
        light.Splat(p);
    }
    EXPECT_EQ(light.mapSamples, samples);

    fillMaps(light, 0, 0);  // the surface stays, but the peak is 0
    EXPECT_EQ(light.Visibility(atColumn(400)), 1.0f);
}

// The eighth root of the occlusion and of the opacity must be pow's float to the bit: every
// float of [0.5, 2), millions of random ones over the whole range, and the special values.
TEST(Solid, EighthRootIsPowsFloatBitForBit) {
    auto viaPow = [](float x) {
        return static_cast<float>(crm::pow(static_cast<double>(x), 0.125));
    };
    auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    std::size_t differing = 0;
    for (float x = 0.5f; x < 2.0f; x = std::nextafter(x, 3.0f))
        differing += !same(powEighth(x), viaPow(x));
    std::uint64_t state = 88172645463325252ull;
    for (int i = 0; i < 4'000'000; ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        float x;
        const auto bits = static_cast<std::uint32_t>(state >> 32);
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isnan(x)) differing += !same(powEighth(x), viaPow(x));
    }
    EXPECT_EQ(differing, 0u);
    for (float x : {0.0f, -0.0f, 1e-45f, 1.17549435e-38f, 3.40282347e38f, 1.0f, 8.0f,
                    std::numeric_limits<float>::infinity(), -1.0f})
        EXPECT_TRUE(same(powEighth(x), viaPow(x))) << x;
    EXPECT_TRUE(std::isnan(powEighth(std::numeric_limits<float>::quiet_NaN())));
}

// The specular power of a whole exponent (the default roughness gives 125) must be pow's float
// to the bit: every float of [0.75, 1] and a million random ones of (0, 2) for exponents from
// 2 to the largest, and the special values.
TEST(Solid, WholePowerIsPowsFloatBitForBit) {
    auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    std::uint64_t state = 2463534242ull;
    for (int n : {2, 3, 125, 1000, 1024}) {
        auto viaPow = [n](float x) {
            return static_cast<float>(crm::pow(static_cast<double>(x), static_cast<double>(n)));
        };
        std::size_t differing = 0;
        for (float x = 0.75f; x <= 1.0f; x = std::nextafter(x, 2.0f))
            differing += !same(powWhole(x, n), viaPow(x));
        for (int i = 0; i < 1'000'000; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            const float x = static_cast<float>(state >> 40) * 0x1p-23f;  // 0 to 2
            differing += !same(powWhole(x, n), viaPow(x));
        }
        EXPECT_EQ(differing, 0u) << n;
        for (float x : {0.0f, -0.0f, 1e-45f, 0.5f, 1.0f, 1.0000001f, 3.0f, 3.40282347e38f,
                        std::numeric_limits<float>::infinity(), -0.5f})
            EXPECT_TRUE(same(powWhole(x, n), viaPow(x))) << x << "^" << n;
    }
}

TEST(Solid, DefaultsHaveThreeLightsThatTurnWithTheObject) {
    auto t = makeSolid(16, 12);
    EXPECT_EQ(t->renderMode(), RenderMode::Solid);
    EXPECT_EQ(t->backgroundColor, (ColorRGBf{0.298f, 0.314f, 0.3f}));
    t->SetDefaults();
    ASSERT_EQ(t->lights.size(), 3u);
    t->Rotate(5, 3);
    t->SetView();
    for (const auto& light : t->lights) {
        EXPECT_EQ(light->rotationAxis, t->rotationAxis);
        EXPECT_EQ(light->rotationAngle, t->rotationAngle);
    }
    // The preview ring of a new target holds its points at the origin: no light map.
    t->ClearImage();
    for (const auto& light : t->lights) EXPECT_FALSE(light->hasMap());

    // A switch from another mode starts from the defaults, sized like its source.
    auto gas = CreateRenderTarget(0);
    gas->SetWidth(16);
    gas->SetHeight(12);
    auto switched = CreateRenderTarget(4, *gas);
    auto& solid = dynamic_cast<TBitmap3D_Solid&>(*switched);
    EXPECT_EQ(solid.lights.size(), 3u);
    EXPECT_EQ(solid.backgroundColor, t->backgroundColor);
    EXPECT_EQ(solid.samples, DepthBuffer(16 * 12, DepthSample{0, 1}));
}

TEST(Solid, SplatPullsTheDepthTowardsNearerPointsOnly) {
    auto t = makeSolid(16, 12);
    const Vecd p{-0.015625, 0.03, 0.2};
    const double d = t->project(p).z;
    t->PlotPoint({p.x, p.y, p.z - 1});
    t->ClearImage();  // empties density and depth
    t->PlotPoint(p);
    // The four cells hold their weight w as density; each splat moves the depth by w towards
    // the point's depth d (a double), blended in double and rounded once.
    std::vector<std::size_t> cells;
    for (std::size_t k = 0; k < t->samples.size(); ++k)
        if (t->samples[k].density > 0) cells.push_back(k);
    ASSERT_EQ(cells.size(), 4u);
    std::vector<float> weight, expected;
    for (std::size_t k : cells) {
        weight.push_back(t->samples[k].density);
        expected.push_back(static_cast<float>(1.0 * (1.0 - weight.back()) + weight.back() * d));
    }
    for (int i = 0; i < 60; ++i) {
        for (std::size_t q = 0; q < cells.size(); ++q) {
            EXPECT_EQ(t->samples[cells[q]].depth, expected[q]) << "splat " << i << ", cell " << q;
            if (d < expected[q])
                expected[q] = static_cast<float>(expected[q] * (1.0 - weight[q]) + weight[q] * d);
        }
        t->PlotPoint(p);
    }

    // Now that the surface lies on the point, a point behind adds density but leaves the
    // surface; a point in front pulls it closer.
    const auto before = t->samples;
    t->PlotPoint({p.x, p.y, p.z + 1});
    for (std::size_t k = 0; k < before.size(); ++k) EXPECT_EQ(t->samples[k].depth, before[k].depth);
    for (std::size_t k : cells) EXPECT_GT(t->samples[k].density, before[k].density) << k;
    t->PlotPoint({p.x, p.y, p.z - 1});
    for (std::size_t k : cells) EXPECT_LT(t->samples[k].depth, before[k].depth) << k;
}

TEST(Solid, DensityFromAnEighthOfThePeakUpIsOpaque) {
    auto t = makeSolid(16, 12);
    t->ClearImage();
    const std::size_t w = 16;
    t->samples[5 + 5 * w].density = 1.0f;  // the peak
    t->samples[9 + 5 * w].density = 0.125f;
    t->samples[5 + 8 * w].density = 0.0625f;
    for (std::size_t k : {5 + 5 * w, 9 + 5 * w, 5 + 8 * w}) t->samples[k].depth = 0.5f;

    // Over black and over white a pixel differs by 1 - a of full scale.
    t->SetBackgroundColor({0, 0, 0});
    t->BuildImage();
    const auto peak = pixelAt(*t, 5, 5), eighth = pixelAt(*t, 9, 5), sixteenth = pixelAt(*t, 5, 8);
    t->SetBackgroundColor({1, 1, 1});
    t->BuildImage();
    EXPECT_EQ(pixelAt(*t, 5, 5), peak);
    EXPECT_EQ(pixelAt(*t, 9, 5), eighth);
    // a = (1/16 * 8)^(1/8) = 0.917: 255 * (1 - a) = 21.2, give or take the truncations.
    for (int c = 0; c < 3; ++c) {
        EXPECT_GE(pixelAt(*t, 5, 8)[c] - sixteenth[c], 20) << c;
        EXPECT_LE(pixelAt(*t, 5, 8)[c] - sixteenth[c], 22) << c;
    }
}

TEST(Solid, LowerRoughnessNarrowsTheHighlight) {
    auto t = makeLorenzScene();
    t->PlotBlock(t->previewPoints.data(), t->previewSize);
    t->roughness = 0.3;  // exponent about 3.33
    t->BuildImage();
    const auto broad = t->imageBytes();
    t->roughness = 0.001;  // exponent 1000
    t->BuildImage();
    const auto& narrow = t->imageBytes();

    // g^3.33 >= g^1000 for 0 < g <= 1, and every later step keeps the order.
    int brighter = 0;
    for (std::size_t i = 0; i < broad.size(); ++i) {
        ASSERT_GE(broad[i], narrow[i]) << "byte " << i;
        brighter += broad[i] > narrow[i];
    }
    EXPECT_GT(brighter, 0);
}

TEST(Solid, EdgeRowAndColumnAndOnePixelHighImagesDevelopNothing) {
    auto t = makeSolid(8, 6);
    t->ClearImage();
    t->samples[3 + 5 * 8].density = 1;  // top row
    t->samples[7 + 2 * 8].density = 1;  // right column
    t->samples[3 + 2 * 8].density = 1;  // an inner pixel, which develops
    t->BuildImage();
    EXPECT_EQ(pixelAt(*t, 3, 5), backgroundBytes(*t));
    EXPECT_EQ(pixelAt(*t, 7, 2), backgroundBytes(*t));
    EXPECT_NE(pixelAt(*t, 3, 2), backgroundBytes(*t));

    auto flat = makeSolid(8, 1);
    flat->ClearImage();
    flat->samples[3].density = 1;
    flat->BuildImage();
    for (std::int32_t x = 0; x < 8; ++x)
        EXPECT_EQ(pixelAt(*flat, x, 0), backgroundBytes(*flat)) << x;

    auto narrow = makeSolid(1, 8);  // the width rounds down to 0
    narrow->ClearImage();
    narrow->BuildImage();
    EXPECT_TRUE(narrow->imageBytes().empty());
}

TEST(Solid, MirrorPlotsEveryPointAgainWithZNegated) {
    auto mirrored = makeLorenzScene();
    auto plain = makeLorenzScene();
    mirrored->mirror = true;
    for (const Vecd& p : lorenzOrbit(3000)) {
        mirrored->PlotPoint(p);
        plain->PlotPoint(p);
        plain->PlotPoint({p.x, p.y, -p.z});
    }
    expectSameBuffers(*mirrored, *plain);
    mirrored->FindPeak();
    for (const auto& light : mirrored->lights) EXPECT_GT(light->mapPeak, 0);
}

TEST(Solid, PlotBlockEqualsPlotPointOneAtATime) {
    auto block = makeLorenzScene();
    auto single = makeLorenzScene();
    block->mirror = single->mirror = true;
    const auto orbit = lorenzOrbit(5000);
    block->PlotBlock(orbit.data(), static_cast<std::int32_t>(orbit.size()));
    for (const Vecd& p : orbit) single->PlotPoint(p);
    expectSameBuffers(*block, *single);
}

TEST(Solid, RenderChangesOnlyPixelsWherePointsLanded) {
    auto t = makeLorenzScene();
    t->PlotBlock(t->previewPoints.data(), t->previewSize);
    t->BuildImage();

    std::vector<std::vector<int>> colours;
    for (std::int32_t y = 0; y < t->imageHeight; ++y) {
        for (std::int32_t x = 0; x < t->imageWidth; ++x) {
            if (pixelAt(*t, x, y) == backgroundBytes(*t)) continue;
            EXPECT_GT(t->samples[static_cast<std::size_t>(x + y * t->imageWidth)].density, 0)
                << x << ", " << y;
            colours.push_back(pixelAt(*t, x, y));
        }
    }
    EXPECT_GT(colours.size(), 200u);
    std::sort(colours.begin(), colours.end());
    EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 20);  // shaded
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

std::uint64_t fnv1a(const void* data, std::size_t size) {
    std::uint64_t h = 14695981039346656037ull;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        h ^= bytes[i];
        h *= 1099511628211ull;
    }
    return h;
}

// The 8-bit and 16-bit developments share their shading: both keep the values they had when
// each had its own loop (recorded then), with the default settings and with powers in play.
TEST(Solid, DevelopmentsKeepTheirRecordedPixels) {
    struct Case {
        double gamma, roughness, opacity;
        std::uint64_t bytes, deep;
    };
    const Case cases[] = {{1.0, 0.008, 8.0, 13746745124616499220ull, 12845644321145165192ull},
                          {2.2, 0.3, 3.0, 17501227865190312432ull, 9383284051295897536ull}};
    for (const Case& c : cases) {
        auto t = makeLorenzScene();
        t->gamma = c.gamma;
        t->roughness = c.roughness;
        t->opacity = c.opacity;
        t->mirror = true;
        const auto orbit = lorenzOrbit(30000);
        t->PlotBlock(orbit.data(), static_cast<std::int32_t>(orbit.size()));
        std::vector<std::uint16_t> deep(static_cast<std::size_t>(t->pixelCount) * 4);
        t->BuildImage16(deep.data(), 4 * t->imageWidth);
        t->BuildImage();
        const auto& bytes = t->imageBytes();
        EXPECT_EQ(fnv1a(bytes.data(), bytes.size()), c.bytes) << c.gamma;
        EXPECT_EQ(fnv1a(deep.data(), deep.size() * 2), c.deep) << c.gamma;
    }
}

}  // namespace
}  // namespace qm
