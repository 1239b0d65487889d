#include "core/math/cr_exp_log.h"

#include <quadmath.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/math/cr_exp_log_tables.h"

// Every function here relies on IEEE double arithmetic rounded to nearest, one rounding per
// operation: the core is compiled with -ffp-contract=off and without fast-math. Error bounds
// are in comments beside the code that they cover; the tests check them against libquadmath.

namespace qm::crm {

namespace {

using detail::ExpEntry;
using detail::kExpTable;
using detail::kExpTableBits;
using detail::kExpTableSize;
using detail::kLogOffset;
using detail::kLogTable;
using detail::kLogTableSize;
using detail::LogEntry;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ln 2 = kLn2Hi + kLn2Lo within 2^-102; kLn2Hi has 42 significant bits, so that e * kLn2Hi is
// exact for every binary exponent e of a double (|e| < 2^11).
constexpr double kLn2Hi = 0x1.62e42fefa38p-1;
constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
// ln 2 / 128 = kL1 + kL2 + kL3 within 2^-150; kL1 has 35 significant bits (k * kL1 exact for
// |k| < 2^18).
constexpr double kL1 = 0x1.62e42fef8p-8;
constexpr double kL2 = 0x1.1cf79abc9e3b4p-43;
constexpr double kL3 = -0x1.9ff034p-97;
constexpr double kInvL = 0x1.71547652b82fep+7;  // 128 / ln 2
// 1 / ln 2 and 1 / ln 10 in double-double.
constexpr double kInvLn2Hi = 0x1.71547652b82fep+0;
constexpr double kInvLn2Lo = 0x1.777d0ffda0d24p-56;
constexpr double kInvLn10Hi = 0x1.bcb7b1526e50ep-2;
constexpr double kInvLn10Lo = 0x1.95355baaafad3p-57;
// Adding and subtracting it rounds a double of magnitude below 2^51 to a whole number.
constexpr double kRoundShift = 0x1.8p52;
// exp's own relative error in expCore (see there).
constexpr double kExpError = 0x1p-74;

std::uint64_t bitsOf(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double fromBits(std::uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

// 2^q for a normal exponent q.
double powerOfTwo(std::int64_t q) {
    return fromBits(static_cast<std::uint64_t>(q + 1023) << 52);
}

// An unevaluated sum hi + lo.
struct DD {
    double hi, lo;
};

// a + b = s + e exactly.
DD twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// The same for |a| >= |b| (or a = 0).
DD fastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo, each half of 26 bits (Veltkamp); |a| < 2^995.
DD split(double a) {
    const double t = 134217729.0 * a;
    const double hi = t - (t - a);
    return {hi, a - hi};
}

// a * b = p + e exactly (Dekker), unless e underflows; |a|, |b| < 2^995. std::fma would be one
// instruction where the processor has it but a slow library call where it does not.
DD twoProd(double a, double b) {
    const double p = a * b;
    const DD x = split(a);
    const DD y = split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// hi + lo (|lo| at most half a unit of hi) rounded to nearest, provided every value within err
// of it rounds to the same double. err must exceed the true error by a millionth of itself and
// 2^-100 |hi|, which cover the rounding of lo +- err.
bool roundsSurely(const DD& v, double err, double& out) {
    const double a = v.hi + (v.lo - err);
    const double b = v.hi + (v.lo + err);
    if (a != b) return false;
    out = a;
    return true;
}

// ---------------------------------------------------------------------------------------------
// The logarithm

// log(x) for a positive normal x, times 2^extraExponent, as hi + lo within err (absolute).
//
// x = 2^e z with z in [0.705, 1.41) and table piece i; with c ~ 1/invc, log x = e ln2 + log c
// + log1p(r), r = z invc - 1 formed exactly as rh + rl (|r| < 2^-7.7).
DD logCore(double x, std::int64_t extraExponent, double& err) {
    const std::uint64_t ix = bitsOf(x);
    const std::uint64_t tmp = ix - detail::kLogOffset;
    const int i = static_cast<int>((tmp >> 45) % detail::kLogTableSize);
    const std::int64_t e = (static_cast<std::int64_t>(tmp) >> 52) + extraExponent;
    const std::uint64_t iz = ix - (tmp & (std::uint64_t{0xFFF} << 52));
    const double z = fromBits(iz);
    const detail::LogEntry& t = kLogTable[i];
    // z rounded to 17 bits and the rest: both products with the 9-bit invc are exact, and zHi
    // invc lies within [0.5, 2] so that subtracting 1 is exact too. r = rh + rl exactly, rh of
    // at most 26 bits (so that its square is exact), |rl| < 2^-17 (rounded rather than cut, zHi
    // is 1 just below 1 too, where rh and rl would otherwise cancel); n is r normalised.
    const double zHi = fromBits((iz + (std::uint64_t{1} << 35)) & ~std::uint64_t{0xFFFFFFFFF});
    const double rh = zHi * t.invc - 1.0;
    const double rl = (z - zHi) * t.invc;
    const DD n = twoSum(rh, rl);

    // log1p(r) = r - r^2/2 + r^3/3 - ... to r^10/10 (the rest is below 2^-80 |r|): r^2/2 as the
    // exact rh^2/2 plus rh rl + rl^2/2, the cubic tail in double (relative error below 2^-50).
    const double sq = rh * rh;
    // (Estrin's scheme: the terms in pairs, so that the chain of dependent operations is short.)
    const double rd = n.hi, r2 = rd * rd, r4 = r2 * r2;
    const double tail = rd * r2 *
                        ((1.0 / 3 + rd * (-1.0 / 4)) + r2 * (1.0 / 5 + rd * (-1.0 / 6)) +
                         r4 * ((1.0 / 7 + rd * (-1.0 / 8)) + r2 * (1.0 / 9 + rd * (-1.0 / 10))));
    const DD b = fastTwoSum(rd, -0.5 * sq);
    const double small = (n.lo - rh * rl) + (tail - 0.5 * (rl * rl));

    // e ln2 + log c (the larger first: |e ln2| > 0.69 > |log c| unless e is 0), then the rest.
    const auto ed = static_cast<double>(e);
    const DD a = fastTwoSum(ed * kLn2Hi, t.logcHi);
    const DD h = twoSum(a.hi, b.hi);
    const double lo = ((h.lo + a.lo) + (b.lo + ed * kLn2Lo)) + (t.logcLo + small);
    const DD result = fastTwoSum(h.hi, lo);
    // The tail's error and the neglected terms (below 2^-51 |r|^3), the roundings of rh rl and
    // rl^2 and of the sums they enter (2^-50 and 2^-52 of them), e ln2's (2^-92 |e|), the
    // table's and the other sums' roundings (2^-100 |log x|; where the piece is not the one
    // around 1, |log x| > 2^-9).
    err = std::fabs(rd * r2) * 0x1p-51 + std::fabs(rh * rl) * 0x1p-50 + rl * rl * 0x1p-52 +
          std::fabs(ed) * 0x1p-92 + std::fabs(result.hi) * 0x1p-99;
    return result;
}

// Positive normal x for x positive and finite: x times 2^-extraExponent.
double normalised(double x, std::int64_t& extraExponent) {
    extraExponent = 0;
    if (x < 0x1p-1022) {
        extraExponent = -64;
        return x * 0x1p64;
    }
    return x;
}

// The special values shared by the logarithms; false for a positive finite x.
bool logSpecial(double x, double& out) {
    if (x > 0 && x < kInf) return false;
    if (x == 0)
        out = -kInf;
    else if (x > 0)
        out = x;  // +inf
    else if (x < 0)
        out = kNaN;
    else
        out = x + x;  // NaN
    return true;
}

// ---------------------------------------------------------------------------------------------
// The exponential

// exp(zh + zl) = (m.hi + m.lo) 2^scale, with |zh| < 745 and |zl| at most half a unit of zh.
struct ExpParts {
    DD m;
    std::int64_t scale;
};

// k = round(z 128 / ln2) = 128 scale + j; r = z - k ln2 / 128 (|r| < 2^-8.5) in double-double;
// exp z = 2^scale 2^(j/128) exp(r). The relative error is below kExpError: the cubic tail's
// (2^-78), the neglected rh^2 rl / 2 (2^-78.5), the sums' (2^-78) and the table's (2^-106).
ExpParts expCore(double zh, double zl) {
    const double kd = (zh * kInvL + kRoundShift) - kRoundShift;
    const auto k = static_cast<std::int64_t>(kd);
    // zh and kd kL1 are within a factor 2 of each other (or kd is 0): the difference is exact.
    const double t = zh - kd * kL1;
    const DD p = twoProd(kd, kL2);
    const DD r0 = twoSum(t, -p.hi);
    const DD r = twoSum(r0.hi, r0.lo - p.lo + (zl - kd * kL3));
    const double rh = r.hi, rl = r.lo;

    // exp(r) - 1 = r + r^2/2 + r^3/6 + ... to r^8/8! (the rest is below 2^-95).
    const DD s = twoProd(rh, rh);
    const double r2 = s.hi, r4 = r2 * r2;
    const double tail = rh * r2 *
                        ((1.0 / 6 + rh * (1.0 / 24)) + r2 * (1.0 / 120 + rh * (1.0 / 720)) +
                         r4 * (1.0 / 5040 + rh * (1.0 / 40320)));
    const DD e = fastTwoSum(rh, 0.5 * s.hi);
    const double el = e.lo + (0.5 * s.lo + rl + rh * rl + tail);

    const detail::ExpEntry& tab = kExpTable[k & (detail::kExpTableSize - 1)];
    const DD q = twoProd(tab.hi, e.hi);
    const double lo = q.lo + tab.hi * el + tab.lo + tab.lo * e.hi;
    const DD m = fastTwoSum(tab.hi, q.hi);
    return {fastTwoSum(m.hi, m.lo + lo), k >> detail::kExpTableBits};
}

// ---------------------------------------------------------------------------------------------
// The rare exact evaluations

// libquadmath's results are within about one unit of 113 bits, so rounding them to double is
// the correct rounding unless the exact value lies within some 2^-112 (relative) of a midpoint
// between two doubles. exp, log and the logarithms of a double other than 1 (and of a power of
// 2 or 10 for log2 and log10) are transcendental, so they are never on a midpoint, and for a
// random argument the chance of being that close is 2^-59; pow's exact and midpoint values are
// computed exactly by exactPow before. An argument where this rounds the wrong way would still
// give the same double on every machine: libquadmath is software, the same everywhere.
double quadToDouble(__float128 v) {
    return static_cast<double>(v);
}

// m and e with x = m 2^e, m odd; x positive and finite.
std::uint64_t oddSignificand(double x, std::int64_t& e) {
    int exponent;
    const double f = std::frexp(x, &exponent);  // exact: x = f 2^exponent, f in [0.5, 1)
    auto m = static_cast<std::uint64_t>(std::ldexp(f, 53));
    e = exponent - 53;
    while ((m & 1) == 0) {
        m >>= 1;
        ++e;
    }
    return m;
}

__extension__ typedef unsigned __int128 Uint128;

// Number of significant bits of v.
int bitLength(Uint128 v) {
    int n = 0;
    while (v != 0) {
        v >>= 1;
        ++n;
    }
    return n;
}

// x^y when it is a dyadic rational of at most 113 significant bits, rounded once; nothing
// when it is not (then it is neither a double nor a midpoint between two doubles: those have at
// most 54 bits). x positive and finite, y finite and not 0.
//
// x = mx 2^ex, y = my 2^ey with mx and my odd. For ey >= 0 (y whole), x^y = mx^y 2^(ex y). For
// ey = -k < 0, x^y is dyadic only when mx is a perfect 2^k-th power s^(2^k) and 2^k divides
// ex; then x^y = s^my 2^(ex my / 2^k). A negative power of an odd number above 1 is never
// dyadic.
std::optional<double> exactPow(double x, double y) {
    std::int64_t ex, ey;
    std::uint64_t base = oddSignificand(x, ex);
    const std::uint64_t myAbs = oddSignificand(std::fabs(y), ey);
    const bool negative = y < 0;
    std::int64_t power;     // the odd part of y, or y itself when whole
    std::int64_t twoPower;  // the exponent of 2 of the result
    if (ey >= 0) {
        if (base != 1 && (negative || std::fabs(y) > 113)) return std::nullopt;
        if (base == 1) {
            // A power of two: 2^(ex y), the double's rounding of it exact below.
            const double p = ex * y;
            if (p > 2000) return kInf;
            if (p < -2000) return 0.0;
            return quadToDouble(ldexpq(1, static_cast<int>(p)));
        }
        power = static_cast<std::int64_t>(std::fabs(y));
        twoPower = ex * power;
    } else {
        if (ey < -62) return std::nullopt;
        const std::int64_t k = -ey;
        const std::int64_t unit = std::int64_t{1} << k;
        if (ex % unit != 0) return std::nullopt;
        for (std::int64_t i = 0; i < k && base != 1; ++i) {
            const auto root = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(base)));
            if (root * root != base) return std::nullopt;
            base = root;
        }
        if (base != 1 && (negative || myAbs > 113)) return std::nullopt;
        // ex / 2^k times my, with y's sign (in double first: my may have 53 bits).
        const double scaled = static_cast<double>(ex / unit) * static_cast<double>(myAbs);
        if (scaled > 2000) return negative ? 0.0 : kInf;
        if (scaled < -2000) return negative ? kInf : 0.0;
        const auto whole = static_cast<std::int64_t>(scaled);
        twoPower = negative ? -whole : whole;
        if (base == 1) return quadToDouble(ldexpq(1, static_cast<int>(twoPower)));
        power = static_cast<std::int64_t>(myAbs);
    }
    Uint128 n = 1;
    for (std::int64_t i = 0; i < power; ++i) {
        n *= base;
        if (bitLength(n) > 113) return std::nullopt;
    }
    if (twoPower > 2000) return kInf;
    if (twoPower < -2200) return 0.0;
    return quadToDouble(ldexpq(static_cast<__float128>(n), static_cast<int>(twoPower)));
}

// pow(x, y) for x positive and finite (not 1), y finite and not 0, when the fast evaluation
// cannot decide.
double powSlow(double x, double y) {
    if (const auto exact = exactPow(x, y)) return *exact;
    return quadToDouble(powq(static_cast<__float128>(x), static_cast<__float128>(y)));
}

// 0 for a y that is not whole, 1 for an odd whole y, 2 for an even one.
int wholeKind(double y) {
    if (std::trunc(y) != y) return 0;
    if (std::fabs(y) >= 0x1p53) return 2;
    return (static_cast<std::int64_t>(y) & 1) != 0 ? 1 : 2;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

double exp(double x) {
    if (!(std::fabs(x) < 708)) {
        if (x != x) return x + x;
        // exp(x) exceeds the largest double plus half a unit from 709.7827128933840, and lies
        // below half the smallest subnormal (2^-1075, which rounds to 0 too) until -745.1332.
        if (x > 709.79) return kInf;
        if (x < -745.14) return 0.0;
        return quadToDouble(expq(static_cast<__float128>(x)));
    }
    const ExpParts p = expCore(x, 0);
    double out;
    if (roundsSurely(p.m, std::fabs(p.m.hi) * kExpError, out)) return out * powerOfTwo(p.scale);
    return quadToDouble(expq(static_cast<__float128>(x)));
}

double log(double x) {
    double special;
    if (logSpecial(x, special)) return special;
    std::int64_t extra;
    const double v = normalised(x, extra);
    double err;
    const DD l = logCore(v, extra, err);
    double out;
    if (roundsSurely(l, err, out)) return out;
    return quadToDouble(logq(static_cast<__float128>(x)));
}

namespace {

// log(x) times a constant c = cHi + cLo (|cLo| below 2^-53 |cHi|), for positive finite x; a
// power of two and exact results are the caller's.
DD logTimes(double x, double cHi, double cLo, double& err) {
    std::int64_t extra;
    const double v = normalised(x, extra);
    double logErr;
    const DD l = logCore(v, extra, logErr);
    const DD p = twoProd(l.hi, cHi);
    const DD result = fastTwoSum(p.hi, p.lo + (l.hi * cLo + l.lo * cHi));
    err = logErr * std::fabs(cHi) * (1 + 0x1p-40) + std::fabs(result.hi) * 0x1p-100;
    return result;
}

}  // namespace

double log2(double x) {
    double special;
    if (logSpecial(x, special)) return special;
    // A power of two has an exact logarithm.
    std::int64_t extra;
    const std::uint64_t bits = bitsOf(normalised(x, extra));
    if ((bits & 0x000FFFFFFFFFFFFFu) == 0)
        return static_cast<double>(static_cast<std::int64_t>(bits >> 52) - 1023 + extra);
    double err;
    const DD l = logTimes(x, kInvLn2Hi, kInvLn2Lo, err);
    double out;
    if (roundsSurely(l, err, out)) return out;
    return quadToDouble(log2q(static_cast<__float128>(x)));
}

double log10(double x) {
    double special;
    if (logSpecial(x, special)) return special;
    double err;
    const DD l = logTimes(x, kInvLn10Hi, kInvLn10Lo, err);
    double out;
    // The powers of 10 that are doubles (10^0 to 10^22) have whole logarithms: the bound is far
    // below a unit, so the test passes on them.
    if (roundsSurely(l, err, out)) return out;
    return quadToDouble(log10q(static_cast<__float128>(x)));
}

double pow(double x, double y) {
    // The special cases, in the C library's order.
    if (y == 0) return 1.0;
    if (x == 1) return 1.0;
    if (x != x || y != y) return x + y;
    const int kind = wholeKind(y);
    const double ax = std::fabs(x);
    if (std::isinf(y)) {
        if (ax == 1) return 1.0;
        return (ax < 1) == (y < 0) ? kInf : 0.0;
    }
    const bool negate = std::signbit(x) && kind == 1;
    if (ax == 0 || std::isinf(ax)) {
        // 0^y and inf^y: 0 or inf, negative for a negative x and an odd whole y.
        const double magnitude = (ax == 0) == (y < 0) ? kInf : 0.0;
        return negate ? -magnitude : magnitude;
    }
    if (x < 0 && kind == 0) return kNaN;

    // ax^y for ax positive, finite and not 1; y finite and not 0.
    double result;
    if (!(std::fabs(y) < 0x1p64)) {
        // |log ax| > 2^-54, so |y log ax| > 2^10: far beyond the doubles either way.
        result = (ax > 1) == (y > 0) ? kInf : 0.0;
    } else {
        std::int64_t extra;
        const double v = normalised(ax, extra);
        double logErr;
        const DD l = logCore(v, extra, logErr);
        const DD p = twoProd(y, l.hi);
        const DD z = fastTwoSum(p.hi, p.lo + y * l.lo);
        if (z.hi > 709.8) {
            result = kInf;
        } else if (z.hi < -745.2) {
            result = 0.0;
        } else if (!(std::fabs(z.hi) < 708)) {
            result = powSlow(ax, y);
        } else {
            // The error of z (y log ax) adds itself, relatively, to exp's own.
            const double zErr = std::fabs(y) * logErr + std::fabs(z.hi) * 0x1p-100;
            const ExpParts e = expCore(z.hi, z.lo);
            double out;
            if (roundsSurely(e.m, std::fabs(e.m.hi) * (kExpError + zErr * (1 + 0x1p-20)), out))
                result = out * powerOfTwo(e.scale);
            else
                result = powSlow(ax, y);
        }
    }
    return negate ? -result : result;
}

namespace detail {

float powFloatSlow(double x, double y) {
    return static_cast<float>(pow(x, y));
}

}  // namespace detail

}  // namespace qm::crm
