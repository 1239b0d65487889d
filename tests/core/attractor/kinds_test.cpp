// One step of each map and flow against values worked out by hand. Inputs are chosen so that
// every intermediate is exact in binary, which makes the expected values exact too.
#include "core/attractor/kinds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "core/attractor/polynomial.h"

namespace qm {
namespace {

Vecd stepped(Attractor& a, Vecd p) {
    a.step(p);
    return p;
}

TEST(Icon, AllZeroParametersSquareTheRadius) {
    Icon icon;
    icon.restart();
    EXPECT_EQ(icon.currentPoint(), (Vecd{0.01, 0.003, 0}));
    icon.iterate();
    EXPECT_EQ(icon.currentPoint(), (Vecd{0, 0, 0.01 * 0.01 + 0.003 * 0.003}));
    EXPECT_NEAR(icon.currentPoint().z, 0.000109, 1e-18);  // rounding of 0.01 and 0.003 only
}

TEST(Icon, DegreeSetsThePowerOfZ) {
    // At z = i the map gives (gamma p, -gamma q) with p + iq = i^(degree - 1).
    Icon icon;
    icon.gamma = 1;
    icon.degree = 2;  // power loop does not run: z^1 = i
    EXPECT_EQ(stepped(icon, {0, 1, 0}), (Vecd{0, -1, 1}));
    icon.degree = 3;  // once: z^2 = -1
    EXPECT_EQ(stepped(icon, {0, 1, 0}), (Vecd{-1, 0, 1}));
    icon.degree = 24;  // 22 times: z^23 = -i
    EXPECT_EQ(stepped(icon, {0, 1, 0}), (Vecd{0, 1, 1}));
}

TEST(Icon, FullFormula) {
    Icon icon;
    icon.degree = 3;
    icon.alpha = 0.5;
    icon.beta = 2;
    icon.lambda = -1;
    icon.gamma = 0.25;
    icon.omega = 4;
    // z = 1 + 0.5i: s = 1.25, z^2 = 0.75 + i, t = -1 + 0.625 + 2 * (0.75 - 0.5) = 0.125.
    EXPECT_EQ(stepped(icon, {1, 0.5, 7}), (Vecd{0.125 + 0.1875 - 2, 0.0625 - 0.25 + 4, 1.25}));
}

TEST(Lorenz_2L, EulerStepWithProductsTakenAtRestart) {
    Lorenz_2L lorenz;
    lorenz.A = 1;
    lorenz.B = 2;
    lorenz.C = 0.5;
    lorenz.dT = 0.5;
    lorenz.restart();
    EXPECT_EQ(lorenz.currentPoint(), (Vecd{1, 1, 1}));
    // a = 0.5, b = 1, c = 0.25.
    EXPECT_EQ(stepped(lorenz, {2, 1, 0.5}), (Vecd{1.5, 2, 1.375}));
    lorenz.A = 4;  // no restart: the old product stays
    EXPECT_EQ(stepped(lorenz, {2, 1, 0.5}), (Vecd{1.5, 2, 1.375}));
    lorenz.dT = 0.25;  // dT also enters the step directly
    EXPECT_EQ(stepped(lorenz, {2, 1, 0.5}), (Vecd{1.5, 2.5, 0.875}));
    lorenz.restart();  // a = 1, b = 0.5, c = 0.125
    EXPECT_EQ(stepped(lorenz, {2, 1, 0.5}), (Vecd{1, 1.5, 0.9375}));
}

TEST(Lorenz_84, EulerStep) {
    Lorenz_84 lorenz;
    lorenz.A = 1;
    lorenz.B = 2;
    lorenz.F = 0.5;
    lorenz.G = 0.25;
    lorenz.dT = 0.5;
    lorenz.restart();
    EXPECT_EQ(lorenz.currentPoint(), (Vecd{0.1, 0.1, 0.1}));
    EXPECT_EQ(stepped(lorenz, {1, 0.5, 0.25}), (Vecd{0.59375, 0.375, 0.75}));
}

TEST(Pickover, SinesAndCosines) {
    Pickover p;
    p.A = 0.5;
    p.B = 0;
    p.C = 0;
    p.D = 2;
    p.restart();
    EXPECT_EQ(p.currentPoint(), (Vecd{0, 0, 0}));
    EXPECT_EQ(stepped(p, {1, 2, 3}), (Vecd{crm::sin(1.0) - 3, -crm::cos(4.0), crm::sin(1.0)}));
}

TEST(Polynomial_A, Step) {
    Polynomial_A poly;
    double* c = poly.coefficients();
    c[0] = 0.5, c[1] = 0.25, c[2] = 1;
    poly.restart();
    EXPECT_EQ(poly.currentPoint(), (Vecd{0.05, 0.05, 0.05}));
    EXPECT_EQ(stepped(poly, {1, 2, 4}), (Vecd{-5.5, 0.25, 0}));
    EXPECT_EQ(poly.params()[0].max(), 2);
}

TEST(Polynomial_B, Step) {
    Polynomial_B poly;
    const double values[] = {0.5, 1, 0.25, 2, 1, 0.5};
    for (int i = 0; i < 6; ++i) poly.params()[i].set(values[i]);
    EXPECT_EQ(stepped(poly, {1, 2, 4}), (Vecd{-9.5, -1.75, -1}));
    EXPECT_EQ(poly.params()[5].min(), -1.2);
}

// Each coefficient alone multiplies one monomial of one coordinate.
TEST(Polynomial_C, EachCoefficientMultipliesItsTerm) {
    // At (x, y, z) = (2, 3, 5), in coefficient order.
    const double terms[18] = {1, 2, 4, 6, 3, 9, 1, 3, 9, 15, 5, 25, 1, 5, 25, 10, 2, 4};
    for (int k = 0; k < 18; ++k) {
        Polynomial_C poly;
        poly.coefficients()[k] = 1;
        const Vecd p = stepped(poly, {2, 3, 5});
        const double got[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], i == k / 6 ? terms[k] : 0) << k;
    }
}

TEST(Polynomial_Sprott, OrderGivesTheCoefficientCount) {
    const int counts[] = {30, 60, 105, 168};
    for (int order = 2; order <= 5; ++order) {
        auto a = createAttractor(9, static_cast<std::int8_t>(order));
        auto& poly = static_cast<Polynomial_Sprott&>(*a);
        EXPECT_EQ(poly.order(), order);
        EXPECT_EQ(poly.coefficientCount(), counts[order - 2]);
        EXPECT_EQ(poly.params().count(), counts[order - 2]);
        const std::int32_t last = counts[order - 2] - 1;
        EXPECT_EQ(poly.params()[last].name, std::string("P").append(std::to_string(last)));
    }
}

TEST(Polynomial_Sprott, OrdersOutsideTwoToFiveAreClamped) {
    const std::pair<int, int> cases[] = {{0, 2}, {1, 2}, {-5, 2}, {6, 5}, {7, 5}, {127, 5}};
    for (auto [asked, got] : cases) {
        auto a = createAttractor(9, static_cast<std::int8_t>(asked));
        auto& poly = static_cast<Polynomial_Sprott&>(*a);
        EXPECT_EQ(poly.order(), got) << asked;
        EXPECT_EQ(poly.coefficientCount(), Polynomial_Sprott::coefficientCountFor(got));
        for (double& c : std::span(poly.coefficients(), static_cast<std::size_t>(poly.coefficientCount()))) c = 0.001;
        poly.restart();
        for (int i = 0; i < 100; ++i) poly.iterate();
    }
    Polynomial_Sprott poly(3);
    poly.setOrder(9);
    EXPECT_EQ(poly.order(), 5);
    EXPECT_EQ(poly.coefficientCount(), 168);
}

TEST(Polynomial_Sprott, TermsAreTakenDepthFirst) {
    // Order 3 at (2, 3, 5): 1, x, x2, x3, x2y, x2z, xy, xy2, xyz, xz, xz2, y, y2, y3, y2z, yz,
    // yz2, z, z2, z3.
    const double terms[20] = {1, 2, 4, 8, 12, 20, 6, 18, 30, 10, 50, 3, 9, 27, 45, 15, 75, 5, 25, 125};
    for (int k = 0; k < 60; ++k) {
        Polynomial_Sprott poly(3);
        poly.coefficients()[k] = 1;
        const Vecd p = stepped(poly, {2, 3, 5});
        const double got[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], i == k / 20 ? terms[k % 20] : 0) << k;
    }
    // Order 2: only coefficient 1 set maps (x, y, z) to (x, 0, 0).
    Polynomial_Sprott order2(2);
    order2.coefficients()[1] = 1;
    EXPECT_EQ(stepped(order2, {0.5, 7, 9}), (Vecd{0.5, 0, 0}));
}

TEST(Polynomial_Sprott, HighOrdersUseEveryCoefficientOnce) {
    for (int order : {4, 5}) {
        Polynomial_Sprott poly(static_cast<std::int8_t>(order));
        const int perCoordinate = poly.coefficientCount() / 3;
        for (int k = 0; k < poly.coefficientCount(); ++k) poly.coefficients()[k] = 1;
        // At (1, 1, 1) every term is 1: each coordinate counts its terms.
        EXPECT_EQ(stepped(poly, {1, 1, 1}), (Vecd{1.0 * perCoordinate, 1.0 * perCoordinate, 1.0 * perCoordinate}));
        // The last coefficient of a coordinate multiplies z to the order.
        std::fill(poly.coefficients(), poly.coefficients() + poly.coefficientCount(), 0.0);
        poly.coefficients()[perCoordinate - 1] = 1;
        EXPECT_EQ(stepped(poly, {1, 1, 2}).x, std::ldexp(1.0, order));
    }
}

TEST(Unravel, FoldsBackThroughTheOrigin) {
    Unravel u;
    u.L = u.N = u.V = 1;
    ASSERT_EQ(u.R, 1);
    u.restart();
    EXPECT_EQ(u.currentPoint(), (Vecd{0, 0, 0}));
    // q = (z, x, y) = (2, 0, 1.5), |q| = 2.5 > R: m = 2, factor 1 - 3/2.5 = -0.2.
    const Vecd p = stepped(u, {0, 1.5, 2});
    const double eps = 1e-15;  // 3/2.5 is not exact in binary
    EXPECT_NEAR(p.x, -0.4, eps);
    EXPECT_EQ(p.y, 0);
    EXPECT_NEAR(p.z, -0.3, eps);
    // Inside the ball: q unchanged.
    u.A = 0.25;
    u.L = 2;
    EXPECT_EQ(stepped(u, {0.5, 0.125, 0}), (Vecd{0.5, 0.5, 0.125}));
}

TEST(Unravel, ZeroRadiusDivergesAtOnce) {
    Unravel u;
    u.R = 0;
    u.restart();
    u.setCurrentPoint({0.5, 0.25, 0.125});
    u.iterate();
    EXPECT_TRUE(u.diverged());
    EXPECT_EQ(u.currentPoint(), (Vecd{0.5, 0.25, 0.125}));
    EXPECT_EQ(u.iterationCount(), 1);
}

}  // namespace
}  // namespace qm
