// Correctly rounded exponential, logarithms and power: each returns the double nearest the
// exact value (ties to even), so a result depends on mathematics alone, never on the processor
// or the C library that runs it. Renders, files and search scores that pass through these
// functions are the same bytes on every machine.
//
// Each first evaluates in double-double with a proven error bound and returns when every value
// within that bound rounds to the same double; otherwise an exact or 113-bit evaluation
// decides: for log some 4 calls in 100,000 between 2^-22 and 2^-7 away from 1 and one in five
// a few units from 1 (where log x lies very close to x - 1 - (x - 1)^2 / 2), far fewer
// elsewhere. Special values follow the C
// library's rules (log(0) = -inf, pow(x, 0) = 1, pow(-8, 1/3) = NaN, ...).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "core/math/cr_exp_log_tables.h"

namespace qm::crm {

double exp(double x);
double log(double x);
double log2(double x);
double log10(double x);
double pow(double x, double y);

namespace detail {

// 1 / ln 2, and (ln2 / 128)^n / n!, the first coefficients of 2^(s / 128) - 1 in powers of s.
constexpr double kInvLn2 = 0x1.71547652b82fep+0;
constexpr double kE1 = 0x1.62e42fefa39efp-8;
constexpr double kE2 = 0x1.ebfbdff82c58fp-17;
constexpr double kE3 = 0x1.c6b08d704a0cp-26;

// float(pow(x, y)) through the double.
float powFloatSlow(double x, double y);

// powFloat's estimate: for x positive and normal, y finite and a result within the normal
// floats, value is within marginUlps units in the last place of the correctly rounded
// pow(x, y). Returns false outside that domain. Inline, so that a development's loop overlaps
// the evaluations of neighbouring pixels.
inline bool powFloatEstimate(double x, double y, double& value, std::int64_t& marginUlps) {
    const std::uint64_t ix = std::bit_cast<std::uint64_t>(x);
    // x positive, normal and finite; |y| below 2^11 and not 0 (NaN fails too); x not 1.
    if (ix - 0x0010000000000000u >= 0x7FE0000000000000u) return false;
    if (!(std::fabs(y) < 0x1p11) || y == 0 || x == 1) return false;

    // Only the absolute error of log2 x matters (y times it is the relative error of the
    // result), so this takes the shortest path: r = z invc - 1 with one rounding, log2(1 + r) to
    // r^5 (the rest is below 2^-46.7), the table's logarithm in double: |error| < 2^-50 (|e| + 9
    // + |log2 x|).
    const std::uint64_t tmp = ix - kLogOffset;
    const LogEntry& t = kLogTable[(tmp >> 45) % kLogTableSize];
    const auto ed = static_cast<double>(static_cast<std::int64_t>(tmp) >> 52);
    const double z = std::bit_cast<double>(ix - (tmp & (std::uint64_t{0xFFF} << 52)));
    const double r = z * t.invc - 1.0;
    const double r2 = r * r;
    const double p =
        (-0.5 * kInvLn2 + r * (kInvLn2 / 3)) + r2 * (-0.25 * kInvLn2 + r * (kInvLn2 / 5));
    const double a = ed + t.logcHi * kInvLn2;
    const double l = (a + r * kInvLn2) + r2 * p;

    // u = 128 y log2 x (within 2^-53 |u| plus 128 |y| times the error above); 2^(u / 128) =
    // 2^(k / 128) exp(s ln2 / 128) with k = round(u) and s = u - k exact, to the cube of
    // s ln2 / 128 (the rest is below 2^-38.5): within 2^-38 in all. The result is within the
    // normal floats; the table's value takes the power of two into its exponent.
    const double u = (128 * y) * l;
    if (!(u > -125 * 128 && u < 127.5 * 128)) return false;
    const double kd = (u + 0x1.8p52) - 0x1.8p52;
    const auto k = static_cast<std::int64_t>(kd);
    const double sr = u - kd;
    const double s2 = sr * sr;
    const double q = sr * kE1 + s2 * (kE2 + sr * kE3);
    const double scaled =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(kExpTable[k & (kExpTableSize - 1)].hi) +
                              static_cast<std::uint64_t>(k >> kExpTableBits << 52));
    value = scaled + scaled * q;

    // The relative error in units of value's last place (at most 2^53 times it), plus the half
    // unit of the correct rounding and one to spare.
    const double units =
        0x1p3 * std::fabs(y) * (std::fabs(ed) + 9 + std::fabs(l)) + std::fabs(u) + 0x1p16;
    if (!(units < 0x1p27)) return false;
    marginUlps = static_cast<std::int64_t>(units) + 1;
    return true;
}

}  // namespace detail

// float(pow(x, y)), bit for bit, through a faster estimate in double where it rounds to an
// unambiguous float (the developments raise a float ratio to a float exponent per pixel).
inline float powFloat(double x, double y) {
    double v;
    std::int64_t margin;
    if (detail::powFloatEstimate(x, y, v, margin)) {
        // v is a normal double within the normal floats: its 29 low bits say how far it is from
        // the nearest midpoint between two floats (2^28 of its units): the correctly rounded
        // double lies on the same side of it when it is further than the margin. (One unsigned
        // comparison: the side itself is random, a branch on it would be mispredicted.)
        const std::uint64_t offset = (std::bit_cast<std::uint64_t>(v) & 0x1FFFFFFFu) -
                                     (std::uint64_t{1} << 28) + static_cast<std::uint64_t>(margin);
        if (offset > 2 * static_cast<std::uint64_t>(margin)) return static_cast<float>(v);
    }
    return detail::powFloatSlow(x, y);
}

}  // namespace qm::crm
