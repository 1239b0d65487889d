// The render target's common behaviour: sizes, the splat rule, rotation, scans, the preview
// ring, rows, clearing and the mode switch.
#include "core/render/bitmap3d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/solid.h"

namespace qm {
namespace {

std::unique_ptr<TBitmap3D> makeTarget(int mode, int width, int height) {
    auto t = CreateRenderTarget(mode);
    t->SetWidth(width);
    t->SetHeight(height);
    t->SetEye({0, 0, -5});
    t->SetTarget({0, 0, 0});
    return t;
}

TEST(TBitmap3D, WidthKeepsBitsTwoToFifteen) {
    auto t = CreateRenderTarget(0);
    t->SetWidth(1023);
    EXPECT_EQ(t->imageWidth, 1020);
    t->SetWidth(70000);
    EXPECT_EQ(t->imageWidth, 4464);
    EXPECT_EQ(t->pixelCount, 0);  // no height yet: no buffers
    t->SetHeight(10);
    EXPECT_EQ(t->pixelCount, 44640);
    EXPECT_EQ(t->imageBytes().size(), 44640u * 3);
    EXPECT_EQ(t->rowBuffer.size(), 4464u * 3);
    EXPECT_DOUBLE_EQ(t->aspect, 446.4);
    EXPECT_DOUBLE_EQ(t->viewHeight, 1.0 / 446.4);
}

TEST(TBitmap3D, SplatCellRoundsToEvenAndSkipsTheBorder) {
    Splat s;
    // x - 0.5 = 2 exactly: cell 2, fraction 0.5 both ways.
    ASSERT_TRUE(TBitmap3D::splatCell(2.5, 2.5, 8, 8, s));
    EXPECT_EQ(s.index, 2 + 2 * 8);
    EXPECT_EQ(s.w00, 0.25f);
    EXPECT_EQ(s.w10, 0.25f);
    EXPECT_EQ(s.w01, 0.25f);
    EXPECT_EQ(s.w11, 0.25f);
    // x - 0.5 = 2.5 rounds to the even 2: the whole weight goes right.
    ASSERT_TRUE(TBitmap3D::splatCell(3.0, 2.5, 8, 8, s));
    EXPECT_EQ(s.index, 2 + 2 * 8);
    EXPECT_EQ(s.w10 + s.w11, 1.0f);
    // 3.5 rounds to 4.
    ASSERT_TRUE(TBitmap3D::splatCell(4.0, 2.5, 8, 8, s));
    EXPECT_EQ(s.index, 4 + 2 * 8);
    EXPECT_EQ(s.w00 + s.w01, 1.0f);
    // Weights of an uneven point, in float as written.
    ASSERT_TRUE(TBitmap3D::splatCell(3.7, 4.9, 8, 8, s));
    const float fx = static_cast<float>(3.7 - 3), fy = static_cast<float>(4.9 - 4);
    EXPECT_EQ(s.w00, 1.0f - fx - fy + fx * fy);
    EXPECT_EQ(s.w11, fx * fy);
    // Cells 0 and width - 1 (and the same for rows), and non-finite points, are dropped.
    for (auto [x, y] : std::vector<std::pair<double, double>>{
             {0.7, 3}, {3, 0.7}, {7.2, 3}, {3, 7.2}, {-5, 3}, {NAN, 3}, {3, INFINITY}, {1e300, 3}})
        EXPECT_FALSE(TBitmap3D::splatCell(x, y, 8, 8, s)) << x << ' ' << y;
    EXPECT_TRUE(TBitmap3D::splatCell(6.9, 6.9, 8, 8, s));  // cell 6: its right neighbour is the last column
}

TEST(TBitmap3D, CellRoundingMatchesNearbyint) {
    std::vector<double> values = {0.5, 1.5, 2.5, -0.5, -1.5, 2.4999999999999996, 2.5000000000000004,
                                  1e6 + 0.5, 3e9 + 0.5, -7.25, 0.0, 1.0 / 3};
    for (int k = -4000; k <= 4000; ++k) values.push_back(k * 0.125);
    for (double v : values) EXPECT_EQ(TBitmap3D::roundHalfEven(v), std::nearbyint(v)) << v;
}

TEST(TBitmap3D, SubPixelDragDoesNotRotate) {
    auto t = makeTarget(0, 64, 48);
    t->Rotate(0.5, 0.7);
    EXPECT_EQ(t->rotationAngle, 0);
    EXPECT_EQ(t->rotationAxis, (Vecd{0, 0, 0}));
}

TEST(TBitmap3D, FullWidthDragIsHalfATurn) {
    auto right = makeTarget(0, 64, 48);
    right->Rotate(64, 0);
    EXPECT_DOUBLE_EQ(right->rotationAngle, M_PI);
    EXPECT_NEAR(right->rotationAxis.y, 1, 1e-12);
    EXPECT_NEAR(right->rotationAxis.x, 0, 1e-12);

    // Vertically, the half turn stays about x instead of falling back to the y axis.
    auto up = makeTarget(0, 64, 48);
    up->Rotate(0, 64);
    EXPECT_DOUBLE_EQ(up->rotationAngle, M_PI);
    EXPECT_NEAR(std::fabs(up->rotationAxis.x), 1, 1e-12);
    EXPECT_NEAR(up->rotationAxis.y, 0, 1e-12);

    // A quarter turn and back leaves no rotation.
    auto back = makeTarget(0, 64, 48);
    back->Rotate(32, 0);
    EXPECT_NEAR(back->rotationAngle, M_PI / 2, 1e-12);
    back->Rotate(-32, 0);
    EXPECT_NEAR(back->rotationAngle, 0, 1e-7);
}

TEST(TBitmap3D, RotationNeverBecomesNaN) {
    auto t = makeTarget(0, 64, 48);
    for (int i = 0; i < 2000; ++i) {
        const double dx = (i % 7) - 3, dy = (i % 5) - 2;
        t->Rotate(dx * 3, dy * 3);
        t->Rotate(-dx * 3, -dy * 3);
        ASSERT_TRUE(std::isfinite(t->rotationAngle)) << i;
        ASSERT_TRUE(std::isfinite(t->rotationAxis.x) && std::isfinite(t->rotationAxis.y) &&
                    std::isfinite(t->rotationAxis.z))
            << i;
    }
}

TEST(TBitmap3D, FitMakesTheLargerExtentNinetyFivePercent) {
    auto t = makeTarget(0, 640, 480);
    const std::vector<Vecd> points = {{-1, 0.2, 0.3}, {2, -0.5, 1}, {0.5, 1.5, -2}, {1, 1, 1}};
    t->BeginScan(ScanKind::Fit);
    for (const Vecd& p : points) t->ScanPoint(p);
    t->EndScan();
    // Project the points with the new camera, in window-normalised units.
    double uMin = 1e9, uMax = -1e9, vMin = 1e9, vMax = -1e9;
    for (const Vecd& p : points) {
        const Vecd px = t->project(p);
        uMin = std::min(uMin, px.x / 640);
        uMax = std::max(uMax, px.x / 640);
        vMin = std::min(vMin, px.y / 480);
        vMax = std::max(vMax, px.y / 480);
    }
    EXPECT_NEAR(std::max(uMax - uMin, vMax - vMin), 0.95, 1e-12);
    EXPECT_NEAR((uMin + uMax) / 2, 0.5, 1e-12);  // centred
    EXPECT_NEAR((vMin + vMax) / 2, 0.5, 1e-12);
}

TEST(TBitmap3D, FitOfCoincidingPointsKeepsScaleOne) {
    auto t = makeTarget(0, 64, 48);
    t->scale = 3;
    t->BeginScan(ScanKind::Fit);
    for (int i = 0; i < 10; ++i) t->ScanPoint({0.25, -0.5, 2});
    t->EndScan();
    EXPECT_EQ(t->scale, 1.0);
    EXPECT_EQ(t->centre, (Vecd{0.25, -0.5, 2}));
    EXPECT_TRUE(std::isfinite(t->panX));
}

TEST(TBitmap3D, PreviewRingStartsAtTheOriginAndWraps) {
    auto t = makeTarget(0, 64, 48);
    ASSERT_EQ(t->previewPoints.size(), 20000u);
    for (const Vecd& p : t->previewPoints) ASSERT_EQ(p, (Vecd{0, 0, 0}));
    for (int i = 0; i < 20003; ++i) t->AddPreviewPoint({double(i), 0, 0});
    EXPECT_EQ(t->previewIndex, 3);
    EXPECT_EQ(t->previewPoints[0].x, 20000);
    EXPECT_EQ(t->previewPoints[3].x, 3);
}

TEST(TBitmap3D, RowsAreStoredBottomUpAndClearingFillsTheBackground) {
    auto t = makeTarget(4, 8, 4);  // Solid: a coloured background
    t->ClearImage();
    // (0.298, 0.314, 0.3) as blue, green, red bytes.
    for (std::size_t k = 0; k < t->imageBytes().size(); k += 3) {
        ASSERT_EQ(t->imageBytes()[k], 76);
        ASSERT_EQ(t->imageBytes()[k + 1], 80);
        ASSERT_EQ(t->imageBytes()[k + 2], 75);
    }
    std::fill(t->rowBuffer.begin(), t->rowBuffer.end(), 9);
    t->StoreRow(0);  // the bottom row is the last scan line
    EXPECT_EQ(t->scanLine(3)[0], 9);
    EXPECT_EQ(t->scanLine(0)[0], 76);
    t->StoreRow(4);  // outside: ignored
}

TEST(TBitmap3D, MirrorPlotsEveryPointTwice) {
    for (bool mirror : {false, true}) {
        auto t = makeTarget(0, 64, 48);
        t->mirror = mirror;
        t->ClearImage();
        t->PlotPoint({0.1, 0.05, 0.3});
        const auto& density = static_cast<TBitmap3D_Gas&>(*t).density;
        EXPECT_FLOAT_EQ(std::accumulate(density.begin(), density.end(), 0.0f), mirror ? 2.0f : 1.0f);
    }
}

TEST(TBitmap3D, EveryModeDevelopsAnySettingThePalettesAccept) {
    // The extremes of the rows (no bound above, luminosity without a bound below, 0.0001 for
    // the others): every development stays defined (the sanitizer build checks the
    // conversions) and the image keeps its size.
    const double extremes[] = {0.0001, 1e300, -1e300, std::numeric_limits<double>::max()};
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        for (double v : extremes) {
            auto t = makeTarget(mode, 32, 24);
            t->ClearImage();
            for (int i = 0; i < 200; ++i)
                t->PlotPoint(
                    {0.01 * std::sin(i), 0.01 * std::cos(i * 0.7), 0.01 * std::sin(i * 1.3)});
            if (auto* gas = dynamic_cast<TBitmap3D_Gas*>(t.get())) {
                gas->luminosity = v;
                gas->gamma = std::max(v, 0.0001);
            } else if (auto* light = dynamic_cast<TBitmap3D_Light*>(t.get())) {
                light->luminosity = v;
                light->gamma = std::max(v, 0.0001);
            } else if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(t.get())) {
                solid->opacity = solid->gamma = solid->roughness = std::max(v, 0.0001);
            }
            t->BuildImage();
            EXPECT_EQ(t->imageBytes().size(), 32u * 24 * 3) << mode << ' ' << v;
        }
    }
}

TEST(TBitmap3D, ModeSwitchKeepsCameraAndFamilyParameters) {
    auto gas = makeTarget(0, 64, 48);
    gas->Rotate(10, 5);
    gas->scale = 1.7;
    gas->panX = 0.1;
    gas->mirror = true;
    gas->AddPreviewPoint({1, 2, 3});
    static_cast<TBitmap3D_Gas&>(*gas).luminosity = 7;

    auto liquid = CreateRenderTarget(1, *gas);
    ASSERT_EQ(liquid->renderMode(), RenderMode::Liquid);
    EXPECT_EQ(liquid->rotationAngle, gas->rotationAngle);
    EXPECT_EQ(liquid->rotationAxis, gas->rotationAxis);
    EXPECT_EQ(liquid->scale, 1.7);
    EXPECT_EQ(liquid->panX, 0.1);
    EXPECT_TRUE(liquid->mirror);
    EXPECT_EQ(liquid->previewPoints[0], (Vecd{1, 2, 3}));
    EXPECT_EQ(liquid->imageWidth, 64);
    EXPECT_EQ(static_cast<TBitmap3D_Gas&>(*liquid).luminosity, 7);
    // The mode's own buffers exist at the new size.
    EXPECT_EQ(static_cast<TBitmap3D_Liquid&>(*liquid).surface.size(), 64u * 48);

    auto solid = CreateRenderTarget(4, *liquid);
    ASSERT_EQ(solid->renderMode(), RenderMode::Solid);
    EXPECT_EQ(solid->scale, 1.7);
    auto gasAgain = CreateRenderTarget(0, *solid);
    EXPECT_EQ(static_cast<TBitmap3D_Gas&>(*gasAgain).luminosity, 2.0);  // not of the family: defaults
    EXPECT_EQ(CreateRenderTarget(5, *gas), nullptr);
    EXPECT_EQ(CreateRenderTarget(-1), nullptr);
}

}  // namespace
}  // namespace qm
