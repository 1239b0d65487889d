// The map and flow kinds with fixed parameter lists: Icon, the Lorenz flows, Pickover and
// Unravel. Julia, the polynomials and IFS have headers of their own.
#pragma once

#include "core/hot_path.h"

#include "core/attractor/kind_base.h"
#include "core/math/cr_trig.h"

namespace qm {

// Symmetric icon map of the complex plane, lifted to 3-D by |z|^2.
class Icon final : public KindBase<Icon> {
public:
    Icon();
    void restart() override;
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double x = p.x, y = p.y;
        const double s = x * x + y * y;
        // p + iq = z^(degree - 1), built by repeated complex multiplication.
        double zp = x, zq = y;
        for (int i = 1; i <= degree - 2; ++i) {
            const double np = zp * x - zq * y;
            zq = zq * x + zp * y;
            zp = np;
        }
        const double t = lambda + alpha * s + beta * (x * zp - y * zq);
        p.x = t * x + gamma * zp - omega * y;
        p.y = t * y - gamma * zq + omega * x;
        p.z = s;
    }

    char degree = 0;
    double alpha = 0, beta = 0, lambda = 0, gamma = 0, omega = 0;
};

// Common base of the Lorenz flows; only Lorenz_2L derives from it.
class Lorenz : public Attractor {
protected:
    Lorenz() = default;
};

// The Lorenz flow, one explicit Euler step per iteration. A, B and C enter through products
// with dT taken at restart; dT also enters the step directly.
class Lorenz_2L final : public KindBase<Lorenz_2L, Lorenz> {
public:
    Lorenz_2L();
    void restart() override;
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const { advanceWith(p, a_, b_, c_, dT); }
    // Block loops step with copies of the coefficients, which stay in registers.
    template <class F>
    decltype(auto) withBlockStepper(F&& f) {
        const double a = a_, b = b_, c = c_, dt = dT;
        return f([a, b, c, dt](Vecd& p, Random31&) { advanceWith(p, a, b, c, dt); });
    }

    double A = 0, B = 0, C = 0, dT = 0;

private:
    QM_HOT_INLINE static void advanceWith(Vecd& p, double a, double b, double c, double dT) {
        const double x = p.x, y = p.y, z = p.z;
        p.x = x + a * (y - x);
        p.y = y + b * x - dT * y - dT * x * z;
        p.z = z - c * z + dT * x * y;
    }

    double a_ = 0, b_ = 0, c_ = 0;  // A*dT, B*dT, C*dT as of the last restart
};

// The 1984 Lorenz flow, one explicit Euler step per iteration.
class Lorenz_84 final : public KindBase<Lorenz_84> {
public:
    Lorenz_84();
    void restart() override;
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double x = p.x, y = p.y, z = p.z;
        p.x = x + dT * (-(y * y) - z * z - A * (x - F));
        p.y = y + dT * (x * y - B * x * z - y + G);
        p.z = z + dT * (B * x * y + x * z - z);
    }

    double A = 0, B = 0, F = 0, G = 0, dT = 0;
};

class Pickover final : public KindBase<Pickover> {
public:
    Pickover();
    void restart() override;
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double x = p.x, y = p.y, z = p.z;
        p.x = crm::sin(A * y) - z * crm::cos(B * x);
        p.y = z * crm::sin(C * x) - crm::cos(D * y);
        p.z = crm::sin(x);
    }

    double A = 0, B = 0, C = 0, D = 0;
};

// A linear map whose image is folded back through the origin into the ball of radius R.
class Unravel final : public KindBase<Unravel> {
public:
    Unravel();
    void restart() override;
    static constexpr bool kStepMayDiverge = true;
    QM_HOT_INLINE void advance(Vecd& p, Random31&) {
        if (R == 0) {
            // Every step diverges: block loops rely on this happening at the first step.
            diverge();
            return;
        }
        Vecd q{(p.z + A) * L, (p.x + E) * N, (p.y + U) * V};
        const double r = std::sqrt(dot(q, q));
        if (r > R && r != 0) {
            // m = r / R truncated toward zero, kept as a double so that no ratio overflows.
            const double m = std::trunc(r / R);
            q = q * (1 - (m + 1) * R / r);
        }
        p = q;
    }

    double A = 0, E = 0, U = 0, L = 0, N = 0, V = 0, R = 1;
};

}  // namespace qm
