// The quaternion Julia walk: when start points are drawn, how the levels are shared, and the
// level guard.
#include "core/attractor/julia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "core/math/cr_trig.h"

namespace qm {
namespace {

// The principal square root of R (q - C), as each level of the walk takes it.
Quat preimage(const Julia& j, const Quat& q, bool positive) {
    const Quat r{crm::sin(j.Phi), 0, 0, crm::cos(j.Phi)};
    const Quat c = r * Quat{j.Ci, 0, 0, j.Cr};
    const Quat w = r * (q - c);
    const double n = norm(w);
    const Quat u{w.x / n, w.y / n, w.z / n, w.w / n};
    const double g = 1 / std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    const double s = std::sqrt(n);
    const double b = std::sqrt(0.5 - 0.5 * u.w);
    const Quat root{s * b * g * u.x, s * b * g * u.y, s * b * g * u.z, s * std::sqrt(0.5 * u.w + 0.5)};
    return positive ? root : -root;
}

void configure(Julia& j, char level) {
    j.level = level;
    j.Cr = -0.2;
    j.Ci = 0.8;
    j.Phi = 0.3;
}

TEST(Julia, RegistersItsLevelUnderTheInterfaceText) {
    Julia j;
    EXPECT_EQ(j.params()[0].name, "Niveau");
    EXPECT_FALSE(j.params()[0].randomizable);
    EXPECT_EQ(j.params()[0].get(), 8);
    EXPECT_EQ(j.params().findParam("Phi")->max(), 3.141592653589793);
}

TEST(Julia, StartPointIsDrawnOncePerTwoToTheLevelSteps) {
    constexpr int L = 3;
    Julia j;
    configure(j, L);
    seedRandom31(2024);
    j.restart();

    // The first step draws (d3, d2, 0, d1) from three uniforms until it lies in the unit ball.
    Random31 rng{threadRandom31().state};
    Quat s;
    do {
        const double d1 = 2 * (rng.uniform() - 0.5);
        const double d2 = 2 * (rng.uniform() - 0.5);
        const double d3 = 2 * (rng.uniform() - 0.5);
        s = {d3, d2, 0, d1};
    } while (norm(s) > 1);
    const double len = norm(s);
    s = {s.x / len, s.y / len, s.z / len, s.w / len};

    j.iterate();
    EXPECT_EQ(j.start(), s);
    EXPECT_EQ(threadRandom31().state, rng.state);

    for (int i = 2; i <= (1 << L); ++i) {
        j.iterate();
        EXPECT_EQ(j.start(), s) << i;
        EXPECT_EQ(threadRandom31().state, rng.state) << "no draw at step " << i;
    }
    j.iterate();  // step 2^L + 1
    EXPECT_NE(j.start(), s);
    EXPECT_NE(threadRandom31().state, rng.state);
}

TEST(Julia, FullWalksMatchTheTreeOfPreimages) {
    constexpr int L = 4;
    Julia j;
    configure(j, L);
    seedRandom31(9);
    j.restart();
    std::vector<Vecd> points;
    for (int i = 0; i < (1 << L); ++i) {
        j.iterate();
        points.push_back(j.currentPoint());
    }
    const Quat s = j.start();
    auto toPoint = [](const Quat& q) { return Vecd{q.w, q.x, std::sqrt(q.y * q.y + q.z * q.z)}; };

    // Step 1 (countdown 2^L): every level takes the negative root.
    Quat q = s;
    for (int l = 0; l < L; ++l) q = preimage(j, q, false);
    EXPECT_EQ(points[0], toPoint(q));

    // The step at countdown 2^(L-1) walks all levels again: negative roots, then the
    // positive root at the deepest level.
    q = s;
    for (int l = 0; l < L; ++l) q = preimage(j, q, l == L - 1);
    EXPECT_EQ(points[(1 << L) - (1 << (L - 1))], toPoint(q));

    // The third coordinate is a length: never negative.
    for (const Vecd& p : points) EXPECT_GE(p.z, 0);
}

TEST(Julia, LevelOutsideItsRangeIsGuarded) {
    // A level the stack cannot hold walks as the deepest allowed level; a level below 1 as 1.
    const std::pair<char, char> cases[] = {{99, 30}, {127, 30}, {0, 1}, {-4, 1}};
    for (auto [stored, effective] : cases) {
        Julia guarded;
    configure(guarded, stored);
        Julia reference;
    configure(reference, effective);
        seedRandom31(5);
        guarded.restart();
        std::vector<Vecd> got;
        for (int i = 0; i < 64; ++i) {
            guarded.iterate();
            got.push_back(guarded.currentPoint());
        }
        seedRandom31(5);
        reference.restart();
        for (int i = 0; i < 64; ++i) {
            reference.iterate();
            ASSERT_EQ(got[static_cast<std::size_t>(i)], reference.currentPoint()) << int(stored);
        }
    }
}

TEST(Julia, AfterSearchMirrorsTheBoxInZ) {
    Julia j;
    configure(j, 6);
    j.restart();
    j.resetBounds();
    for (int i = 0; i < 200; ++i) {
        j.iterate();
        j.extendBounds();
    }
    j.afterSearch();
    EXPECT_EQ(j.minCorner().z, -j.maxCorner().z);
}

TEST(Julia, HugeParametersGiveANaNOrbitThatDiverges) {
    // 1e300 everywhere: the square roots overflow to infinities, then NaN. A trial and a
    // plain iteration both stop at once instead of running on NaN.
    Julia j;
    j.Cr = j.Ci = j.Phi = 1e300;
    j.measure();
    EXPECT_TRUE(j.diverged());
    EXPECT_FALSE(j.measuredChaotic());
    j.restart();
    for (int i = 0; i < 10 && !j.diverged(); ++i) j.iterate();
    EXPECT_TRUE(j.diverged());
}

}  // namespace
}  // namespace qm
