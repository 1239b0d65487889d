// The software camera against hand-computed OpenGL matrices.
#include "core/render/camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qm {
namespace {

Vecd apply(const Mat4& m, const Vecd& p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

TEST(Mat4, OrthographicProjection) {
    Mat4 m = Mat4::identity();
    m.ortho(-0.5, 0.5, -0.375, 0.375, 1, 50);
    EXPECT_EQ(m.at(0, 0), 2);
    EXPECT_EQ(m.at(1, 1), 2 / 0.75);
    EXPECT_EQ(m.at(2, 2), -2.0 / 49);
    EXPECT_EQ(m.at(0, 3), 0);
    EXPECT_EQ(m.at(1, 3), 0);
    EXPECT_EQ(m.at(2, 3), -51.0 / 49);
    EXPECT_EQ(m.at(3, 3), 1);
    // The near plane maps to depth -1, the far plane to +1 (eye looks down -z).
    EXPECT_DOUBLE_EQ(apply(m, {0, 0, -1}).z, -1);
    EXPECT_DOUBLE_EQ(apply(m, {0, 0, -50}).z, 1);
}

TEST(Mat4, LookAtFromMinusFiveMirrorsX) {
    Mat4 m = Mat4::identity();
    m.lookAt({0, 0, -5}, {0, 0, 0}, {0, 1, 0});
    // Seen from z = -5 looking towards +z: x is mirrored, the eye is at the origin.
    EXPECT_EQ(apply(m, {1, 2, 3}), (Vecd{-1, 2, -8}));
    EXPECT_EQ(apply(m, {0, 0, -5}), (Vecd{0, 0, 0}));
}

TEST(Mat4, OperationsMultiplyOnTheRight) {
    Mat4 m = Mat4::identity();
    m.scale(2, 2, 2).translate(1, 0, 0);  // the translation acts first on a point
    EXPECT_EQ(apply(m, {1, 1, 1}), (Vecd{4, 2, 2}));

    Mat4 r = Mat4::identity();
    r.rotate(90, {0, 0, 2});  // the axis need not be unit length
    const Vecd p = apply(r, {1, 0, 0});
    EXPECT_NEAR(p.x, 0, 1e-16);  // cos 90 degrees is not exactly 0 in binary
    EXPECT_EQ(p.y, 1);

    Mat4 noAxis = Mat4::identity();
    noAxis.rotate(45, {0, 0, 0});
    EXPECT_EQ(noAxis, Mat4::identity());
}

TEST(Mat4, InverseAndUnproject) {
    Mat4 projection = Mat4::identity();
    projection.ortho(-0.5, 0.5, -0.375, 0.375, 1, 50);
    Mat4 view = Mat4::identity();
    view.lookAt({0, 0, -5}, {0, 0, 0}, {0, 1, 0});
    view.scale(1.5, 1.5, 1.5).rotate(30, {1, 1, 0}).translate(0.1, -0.2, 0.3);

    const auto inv = view.inverse();
    ASSERT_TRUE(inv);
    const Mat4 product = view * *inv;
    for (int k = 0; k < 16; ++k) EXPECT_NEAR(product[k], Mat4::identity()[k], 1e-15) << k;

    // A point through the camera and the viewport, then back.
    const Vecd p{0.2, -0.1, 0.4};
    const Vecd ndc = apply(projection * view, p);
    const Vecd window{(ndc.x + 1) * 640 / 2, (ndc.y + 1) * 480 / 2, (ndc.z + 1) / 2};
    const auto back = unproject(window, view, projection, {0, 0, 640, 480});
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->x, p.x, 1e-12);
    EXPECT_NEAR(back->y, p.y, 1e-12);
    EXPECT_NEAR(back->z, p.z, 1e-12);

    Mat4 singular = Mat4::identity();
    singular.scale(1, 0, 1);
    EXPECT_FALSE(singular.inverse());
}

}  // namespace
}  // namespace qm
