// Julia: a quaternion Julia set drawn by inverse iteration. Each step yields one point at depth
// "level" of the tree of preimages of z -> R (z - C), two per point; consecutive steps walk
// the tree so that they share its upper levels.
#pragma once

#include "core/hot_path.h"

#include <array>

#include "core/attractor/kind_base.h"

namespace qm {

// x, y, z vector part and w scalar part.
struct Quat {
    double x = 0, y = 0, z = 0, w = 0;
    friend bool operator==(const Quat&, const Quat&) = default;
};

inline Quat operator-(const Quat& a) { return {-a.x, -a.y, -a.z, -a.w}; }
inline Quat operator-(const Quat& a, const Quat& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
}
// Hamilton product.
inline Quat operator*(const Quat& a, const Quat& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z,
            a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}
inline double norm(const Quat& q) { return std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w); }

class Julia final : public KindBase<Julia> {
public:
    static constexpr int kStackSize = 32;
    static constexpr char kMinLevel = 1;
    static constexpr char kMaxLevel = 30;

    Julia();
    void restart() override;
    void afterSearch() override { minCorner_.z = -maxCorner_.z; }
    // The countdown, the start point, the last root and the root stack, as doubles.
    std::vector<double> orbitMemory() const override;
    void setOrbitMemory(const std::vector<double>& memory) override;
    QM_HOT_INLINE void advance(Vecd& p, Random31& rng);

    char level = 8;
    double Cr = 0, Ci = 0, Phi = 0;

    const Quat& start() const { return start_; }
    std::int32_t countdown() const { return countdown_; }

private:
    Quat q_, start_, rotation_, c_;
    std::array<Quat, kStackSize> stack_{};
    std::int32_t countdown_ = 1;
};

QM_HOT_INLINE void Julia::advance(Vecd& p, Random31& rng) {
    // The level indexes the stack and sizes the countdown: keep it where both are valid,
    // whatever was stored in it.
    const int L = level < kMinLevel ? kMinLevel : level > kMaxLevel ? kMaxLevel : level;

    if (--countdown_ == 0) {
        // A new start point, uniform in the unit ball of the (x, y, w) space, then normalised.
        Quat s;
        double len;
        do {
            const double d1 = 2 * (rng.uniform() - 0.5);
            const double d2 = 2 * (rng.uniform() - 0.5);
            const double d3 = 2 * (rng.uniform() - 0.5);
            s = {d3, d2, 0, d1};
            len = norm(s);
        } while (len > 1);
        if (len > 0) s = {s.x / len, s.y / len, s.z / len, s.w / len};
        start_ = s;
        countdown_ = std::int32_t{1} << L;
    }

    // Levels above the lowest set bit of the countdown are shared with the previous step.
    const int h = __builtin_ctz(static_cast<unsigned>(countdown_)) + 1;
    int level0;
    Quat q;
    if (h < L) {
        level0 = L - h;
        q = -stack_[static_cast<std::size_t>(level0 - 1)];
    } else {
        level0 = 0;
        q = start_;
    }
    for (int l = level0; l < L; ++l) {
        const Quat w = rotation_ * (q - c_);
        const double n = norm(w);
        Quat u;
        if (n != 0)
            u = {w.x / n, w.y / n, w.z / n, w.w / n};
        else
            u = w * Quat{1e6, 1e6, 1e6, 1e6};
        const double v = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
        const double g = v != 0 ? 1 / v : 1e6;
        const double a = std::sqrt(0.5 * u.w + 0.5);
        const double b = std::sqrt(0.5 - 0.5 * u.w);
        const double s = std::sqrt(n);
        // The principal square root of w.
        const Quat root{s * b * g * u.x, s * b * g * u.y, s * b * g * u.z, s * a};
        q = (countdown_ >> l) & 1 ? root : -root;
        stack_[static_cast<std::size_t>(l)] = q;
    }
    q_ = q;
    p = {q.w, q.x, std::sqrt(q.y * q.y + q.z * q.z)};
}

}  // namespace qm
