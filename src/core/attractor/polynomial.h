// The polynomial maps: three fixed forms (types A, B, C) and the general polynomial of order
// 2 to 5 in three variables (Sprott's form), all with coefficients P0, P1, ...
#pragma once

#include "core/hot_path.h"

#include <vector>

#include "core/attractor/kind_base.h"

namespace qm {

// Owns the coefficient array and registers one parameter per coefficient.
class Polynomial : public Attractor {
public:
    void restart() override;
    // Replaces the coefficients by k zeros and registers "P0" to "P(k-1)".
    void setCoefficientCount(std::int32_t k);
    std::int32_t coefficientCount() const { return static_cast<std::int32_t>(coefficients_.size()); }
    double* coefficients() { return coefficients_.data(); }
    const double* coefficients() const { return coefficients_.data(); }

protected:
    Polynomial(const double* minimum, const double* maximum);
    std::vector<double> coefficients_;

private:
    const double* minimum_;
    const double* maximum_;
};

class Polynomial_A final : public KindBase<Polynomial_A, Polynomial> {
public:
    Polynomial_A();
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double* c = coefficients_.data();
        const double x = p.x, y = p.y, z = p.z;
        p.x = c[0] + y - z * y;
        p.y = c[1] + z - x * z;
        p.z = c[2] + x - y * x;
    }
};

class Polynomial_B final : public KindBase<Polynomial_B, Polynomial> {
public:
    Polynomial_B();
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double* c = coefficients_.data();
        const double x = p.x, y = p.y, z = p.z;
        p.x = c[0] + y - z * (c[1] + y);
        p.y = c[2] + z - x * (c[3] + z);
        p.z = c[4] + x - y * (c[5] + x);
    }
};

class Polynomial_C final : public KindBase<Polynomial_C, Polynomial> {
public:
    Polynomial_C();
    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        const double* c = coefficients_.data();
        const double x = p.x, y = p.y, z = p.z;
        p.x = c[0] + x * (c[1] + c[2] * x + c[3] * y) + y * (c[4] + c[5] * y);
        p.y = c[6] + y * (c[7] + c[8] * y + c[9] * z) + z * (c[10] + c[11] * z);
        p.z = c[12] + z * (c[13] + c[14] * z + c[15] * x) + x * (c[16] + c[17] * x);
    }
};

class Polynomial_Sprott final : public KindBase<Polynomial_Sprott, Polynomial> {
public:
    static constexpr std::int8_t kMinOrder = 2;
    static constexpr std::int8_t kMaxOrder = 5;

    explicit Polynomial_Sprott(std::int8_t order);
    // An order outside 2 to 5 is clamped to the nearest of them, so that the coefficient
    // array always matches the order the step walks.
    void setOrder(std::int8_t order);
    std::int8_t order() const { return order_; }
    static std::int32_t coefficientCountFor(int order) {
        return (order + 1) * (order + 2) * (order + 3) / 2;
    }

    // The order is chosen once per block rather than once per step.
    template <class F>
    decltype(auto) withBlockStepper(F&& f) {
        const double* c = coefficients_.data();
        switch (order_) {
            case 2: return f([c](Vecd& p, Random31&) { expand<2>(c, p); });
            case 3: return f([c](Vecd& p, Random31&) { expand<3>(c, p); });
            case 4: return f([c](Vecd& p, Random31&) { expand<4>(c, p); });
            default: return f([c](Vecd& p, Random31&) { expand<5>(c, p); });
        }
    }

    QM_HOT_INLINE void advance(Vecd& p, Random31&) const {
        switch (order_) {
            case 2: expand<2>(coefficients_.data(), p); break;
            case 3: expand<3>(coefficients_.data(), p); break;
            case 4: expand<4>(coefficients_.data(), p); break;
            default: expand<5>(coefficients_.data(), p); break;
        }
    }

private:
    // Terms depth first: 1, then for each a: p_a, and for each b >= a: p_a p_b, and so on up
    // to the order; one coefficient per term in that order, products left to right.
    template <int N>
    QM_HOT_INLINE static void expand(const double* c, Vecd& pt) {
        const double p[3] = {pt.x, pt.y, pt.z};
        double out[3];
        int j = 0;
        for (int i = 0; i < 3; ++i) {
            double o = c[j++];
            for (int a = 0; a < 3; ++a) {
                o += c[j++] * p[a];
                for (int b = a; b < 3; ++b) {
                    o += c[j++] * p[a] * p[b];
                    if constexpr (N > 2) {
                        for (int e = b; e < 3; ++e) {
                            o += c[j++] * p[a] * p[b] * p[e];
                            if constexpr (N > 3) {
                                for (int f = e; f < 3; ++f) {
                                    o += c[j++] * p[a] * p[b] * p[e] * p[f];
                                    if constexpr (N > 4) {
                                        for (int g = f; g < 3; ++g)
                                            o += c[j++] * p[a] * p[b] * p[e] * p[f] * p[g];
                                    }
                                }
                            }
                        }
                    }
                }
            }
            out[i] = o;
        }
        pt = {out[0], out[1], out[2]};
    }

    std::int8_t order_ = 0;
};

}  // namespace qm
