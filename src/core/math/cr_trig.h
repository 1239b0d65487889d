// Trigonometric functions that give the same bits on every machine: each returns the double
// nearest the exact mathematical value (round to nearest; exact halfway cases cannot occur for
// these functions). They replace the C library's functions wherever a value reaches an orbit,
// an image or a file: glibc picks among variants built for different processors when a program
// loads, and those variants round differently.
//
//   const double y = qm::crm::sin(x);
//   const auto [s, c] = qm::crm::sincos(angle);
//
// sin and cos are inline: a first evaluation with one exact product settles all but a few calls
// in a thousand without leaving the caller; the rest go to a more precise evaluation in
// cr_trig.cpp, and the rarest of those to 113-bit arithmetic (see there).
#pragma once

#include <cstdint>

#include "core/hot_path.h"

namespace qm::crm {

struct SinCos {
    double sin, cos;
};

namespace detail {

// sin(i pi/256), i = 0..128: the double-double hi + lo (within 2^-106 relative), and hi split
// into 26 and 27 bits for Dekker's product.
struct TableRow {
    double hi, lo, head, tail;
};
extern const TableRow kSinTable[129];

// pi/256 in three parts: P1 and P2 have 31 significant bits (k * P1 and k * P2 are exact for
// |k| < 2^22), P3 53 bits; pi/256 - (P1 + P2 + P3) is below 2^-126.
inline constexpr double kP1 = 0x1.921fb544p-7;
inline constexpr double kP2 = 0x1.0b4611a4p-41;
inline constexpr double kP3 = 0x1.13198a2e03707p-72;
// pi/256 - P1 rounded to 53 bits, for the first evaluation: pi/256 - (P1 + Q2) is below 2^-94.8.
inline constexpr double kQ2 = 0x1.0b4611a626331p-41;
inline constexpr double kInvStep = 0x1.45f306dc9c883p+6;  // 256/pi
// Adding and subtracting it rounds a double below 2^51 in magnitude to an integer (ties to even).
inline constexpr double kRound = 0x1.8p52;
// The fast evaluations cover kTiny <= |x| < kFastLimit (|k| < 2^22 below).
inline constexpr double kTiny = 0x1p-27;
inline constexpr double kFastLimit = 0x1.8p15;

// sin(x + shift pi/256) where the first evaluation cannot decide: the precise one, then 113 bits.
double sinShiftedPrecise(double x, std::int64_t shift);
// Arguments outside the fast range: tiny, large, infinite or NaN.
double sinShiftedEdge(double x, std::int64_t shift);

// The first evaluation, for kTiny <= |x| < kFastLimit: hi + lo approximates sin(x + shift
// pi/256) within err. x = k pi/256 + t, |t| <= pi/512; with phi = (k + shift) pi/256 =
// q pi/2 + i pi/256, sin(phi + t) = +-(X cos t' + Y sin t') where X and Y are table values and
// t' = +-t (the signs by the quadrant q). X + Y th is formed to 2^-78; the other terms are
// rounded, and the bound covers them (relative error below 2^-63.5, see cr_trig.cpp).
QM_HOT_INLINE void firstEvaluation(double x, std::int64_t shift, double& hi, double& lo,
                                   double& err) {
    // Reduction in two parts: th + tl = x - k pi/256 within |k| 2^-93.3 (the rounding of k Q2
    // and the part of pi/256 beyond P1 + Q2); enough where the result is not tiny, and where it
    // is the test fails and the precise evaluation reduces with three parts.
    const double kd = (x * kInvStep + kRound) - kRound;
    const double r1 = x - kd * kP1;  // exact: k * P1 is exact and within a factor two of x
    const double p2 = kd * kQ2;
    double th = r1 - p2;
    const double bb = th - r1;
    double tl = (r1 - (th - bb)) + (-p2 - bb);

    const std::int64_t k = static_cast<std::int64_t>(kd) + shift;
    const auto q = static_cast<unsigned>(k >> 7) & 3u;
    const auto i = static_cast<unsigned>(k) & 127u;
    // Without branches: the quadrant is a coin toss from one call to the next.
    static constexpr double kSign[2] = {1.0, -1.0};
    const unsigned oddMask = 0u - (q & 1u);
    const unsigned ix = (i & ~oddMask) | ((128u - i) & oddMask);
    const TableRow& rx = kSinTable[ix];
    const TableRow& ry = kSinTable[128u - ix];
    th *= kSign[q & 1u];
    tl *= kSign[q & 1u];

    // cos t - 1 = pc - th tl, sin t - th = tl + ps (|tl| <= ulp(th)/2; the terms dropped are
    // below 2^-68.7 of the result).
    const double u = th * th;
    const double pc = u * (-0.5 + u * (0x1.5555555555555p-5 - u * 0x1.6c16c16c16c17p-10));
    const double ps =
        th * u * (-0x1.5555555555555p-3 + u * (0x1.1111111111111p-7 - u * 0x1.a01a01a01a01ap-13));
    // Y th = p + pe: p, the product of the 26-bit heads of Y and th, is exact; pe, the rest, is
    // below 2^-25 of it and rounded.
    const double c = 134217729.0 * th;  // 2^27 + 1
    const double tHead = c - (c - th), tTail = th - tHead;
    const double p = ry.head * tHead;
    const double pe = ry.head * tTail + ry.tail * th;
    // X + p exactly (X is 0 or above sin(pi/256) > |p|, so the short form is exact), then the
    // small terms.
    const double s = rx.hi + p;
    const double se = p - (s - rx.hi);
    const double small =
        se + (pe + (rx.lo + (ry.lo * th + (ry.hi * (tl + ps) + rx.hi * (pc - th * tl)))));
    const double sign = kSign[q >> 1];
    hi = sign * s;
    lo = sign * small;
    err = 0x1p-62 * __builtin_fabs(s) + __builtin_fabs(kd) * 0x1p-92;
}

QM_HOT_INLINE double sinShifted(double x, std::int64_t shift) {
    const double ax = __builtin_fabs(x);
    if (!(ax >= kTiny && ax < kFastLimit)) [[unlikely]]
        return sinShiftedEdge(x, shift);
    double hi, lo, err;
    firstEvaluation(x, shift, hi, lo, err);
    const double up = hi + (lo + err);
    if (up == hi + (lo - err)) [[likely]]
        return up;
    return sinShiftedPrecise(x, shift);
}

// The precise evaluation alone, for the tests (same contract as firstEvaluation, error below
// 2^-68 of the result).
void preciseEvaluation(double x, std::int64_t shift, double& hi, double& lo, double& err);

// The 113-bit evaluation alone, rounded to double.
double sinSlow(double x);
double cosSlow(double x);

}  // namespace detail

QM_HOT_INLINE double sin(double x) {
    return detail::sinShifted(x, 0);
}
QM_HOT_INLINE double cos(double x) {
    return detail::sinShifted(x, 128);
}

// Both values of one angle at once; each equals sin(x) and cos(x) bit for bit.
SinCos sincos(double x);

double acos(double x);
// The angle of the point (x, y), in [-pi, pi], with the C library's signed-zero and infinity
// conventions.
double atan2(double y, double x);

}  // namespace qm::crm
