#include "core/property/gradient.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qm {

namespace detail {

// ColorAt's arithmetic is defined in extended precision: the fraction
// f = float((t - p) / (s - p)) with the difference and the quotient rounded to long double, and
// each component float(g * lower + f * upper) with g = 1 - f in double and the products and the
// sum rounded to long double. On x86-64 that is x87 code, with loads and stores through memory
// at every step. The fast paths compute the same expressions in double and return
// float(double result) only where that is provably float(long double result):
//
// 1. Rounding to float. Round to nearest sends every value of an open interval between two
//    consecutive float midpoints (the rounding boundaries) to the float inside it. So if the
//    double result y and the long double result x differ by less than the distance from y to
//    the nearest float midpoint, no boundary lies between them or on either, and
//    float(y) == float(x). Each of x and y is rounded twice (the exact value to its own
//    precision, then to float); the argument compares x and y directly and needs no other
//    property of the first rounding than its error bound.
//
// 2. Distance to the nearest midpoint. For 2^-126 <= |y| < 2^127 (normal floats, no
//    overflow), with |y| in [2^e, 2^(e+1)) and ulp = 2^(e-52) the spacing of doubles there, a
//    float has 24 significant bits, so the low 29 bits L of y's significand decide the
//    rounding: the floats around |y| are |y| - L ulp and that plus 2^29 ulp, with their
//    midpoint at L = 2^28. The next midpoint above is 2^28 ulp or more beyond that float; the
//    next below is at least 2^27 ulp below |y| (2^27 when the lower float is a power of two,
//    where the spacing halves). So the distance to the nearest midpoint is at least
//    min(|L - 2^28|, 2^27) ulp.
//
// 3. Error of the fraction, for results y in [2^-126, 1]. With u = 2^-53, v = 2^-64 and
//    E = (t - p) / (s - p) exactly: such a y implies finite, non-zero t - p and s - p (an
//    overflow gives an infinite or zero quotient, a NaN fails the test), and a difference of
//    doubles is correctly rounded even below the normal range, so
//    y = E (1 + e1)(1 + e3) / (1 + e2) with |ei| <= u (the quotient is normal), and
//    |y - E| <= 3.0000001 u |E|. Likewise |x - E| <= 3.0000001 v |E|: long double has the
//    exponent range for any double operands. Then
//    |y - x| <= (3.0000001 u + 3.0000001 v) |E| <= 3.002 u |y| < 3.01 ulp, since |y| < 2^53 ulp.
//
// 4. Error of a mix, for f in [0, 1] (g = 1 - f is then 0 or at least 2^-24, in [0, 1]) and
//    products A = g * lower and B = f * upper of the same sign or zero. B, a product of two
//    24-bit significands, is exact in both precisions; A, zero or at least 2^-173 in
//    magnitude, is a normal double, rounded with relative error u (v in long double). With
//    E = A + B and |A|, |B| <= |E| (same signs): the double sum is
//    y = (A (1 + a) + B)(1 + b), |a|, |b| <= u (a sum below the normal range is exact), so
//    |y - E| <= u |A| + u (1 + u) |E| <= 2.0000001 u |E|; likewise |x - E| <= 2.0000001 v |E|;
//    |y - x| <= 2.002 u |y| < 2.01 ulp. Products of opposite signs can cancel and are left to
//    the extended path; so are results below 2^-126 or at 2^127 and above (a result of 0 with
//    same-sign products means both products were exactly 0, and is returned as it is: both
//    precisions add zeros with the same sign rules).
//
// A margin of 4 ulp therefore covers both. It fails for about one result in 2^25, and the
// extended path then gives the answer.
namespace {

constexpr std::uint64_t kMarginUlps = 4;

// Whether the double y, 2^-126 <= |y| < 2^127, lies at least kMarginUlps of its own last place
// away from every float rounding boundary (point 2 above).
bool farFromFloatMidpoint(double y) {
    constexpr std::uint64_t kLowBits = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kMidpoint = std::uint64_t{1} << 28;
    const std::uint64_t low = std::bit_cast<std::uint64_t>(y) & kLowBits;
    const std::uint64_t distance = low > kMidpoint ? low - kMidpoint : kMidpoint - low;
    return distance >= kMarginUlps;
}

bool inFloatNormalRange(double y) {
    const double a = std::fabs(y);
    return a >= 0x1p-126 && a < 0x1p127;
}

}  // namespace

float gradientFractionExtended(double t, double p, double s) {
    return static_cast<float>((static_cast<long double>(t) - p) /
                              (static_cast<long double>(s) - p));
}

float gradientFraction(double t, double p, double s) {
    const double y = (t - p) / (s - p);
    if (y >= 0x1p-126 && y <= 1.0 && farFromFloatMidpoint(y)) return static_cast<float>(y);
    return gradientFractionExtended(t, p, s);
}

float gradientMixExtended(float f, float lower, float upper) {
    const double g = 1.0 - static_cast<double>(f);
    return static_cast<float>(static_cast<long double>(g) * lower +
                              static_cast<long double>(f) * upper);
}

float gradientMix(float f, float lower, float upper) {
    if (f >= 0.0f && f <= 1.0f) {
        const double g = 1.0 - static_cast<double>(f);
        const double a = g * lower;
        const double b = static_cast<double>(f) * upper;
        // Same signs (a zero counts as either): no cancellation. NaN products fail below.
        if ((a >= 0) == (b >= 0) || a == 0 || b == 0) {
            const double y = a + b;
            if (inFloatNormalRange(y)) {
                if (farFromFloatMidpoint(y)) return static_cast<float>(y);
            } else if (y == 0 && (a == 0 || b == 0)) {
                return static_cast<float>(y);
            }
        }
    }
    return gradientMixExtended(f, lower, upper);
}

}  // namespace detail

void Gradientf::AddStop(double position, ColorRGBf color) {
    // A NaN position is greater than or equal to nothing: it goes to the end, and takes the
    // key of the stop before it.
    if (std::isnan(position)) {
        keys_.push_back(keys_.empty() ? position : keys_.back());
        stops_.push_back({position, color});
        return;
    }
    // The stop found is a numeric one (see keys_), so the keys of the NaN stops after the new
    // stop keep coming from numeric stops after it, unchanged.
    const std::size_t i = firstAtOrAbove(position);
    keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(i), position);
    stops_.insert(stops_.begin() + static_cast<std::ptrdiff_t>(i), {position, color});
}

std::size_t Gradientf::firstAtOrAbove(double t) const {
    // A binary search without branches on the comparisons (they are unpredictable for the
    // values a render samples). !(key >= t) rather than key < t, so that the NaN keys of
    // leading NaN stops count as below every t.
    const std::size_t n = keys_.size();
    if (n == 0) return 0;
    const double* base = keys_.data();
    std::size_t length = n;
    while (length > 1) {
        const std::size_t half = length / 2;
        base = !(base[half] >= t) ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - keys_.data()) + (!(*base >= t) ? 1 : 0);
}

void Gradientf::rebuildKeys() {
    keys_.resize(stops_.size());
    double key = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < stops_.size(); ++i) {
        if (!std::isnan(stops_[i].position)) key = stops_[i].position;
        keys_[i] = key;
    }
}

ColorRGBf Gradientf::ColorAt(double t) const {
    if (stops_.empty()) return {0.0f, 0.0f, 0.0f};
    // !(t > 0) rather than t <= 0, so that NaN also takes the first colour.
    if (stops_.size() == 1 || !(t > 0.0)) return stops_.front().color;
    if (t >= 1.0) return stops_.back().color;

    const std::size_t next = firstAtOrAbove(t);
    // Without end stops at exactly 0 and 1 one neighbour may be missing: take the nearest end.
    if (next == 0) return stops_.front().color;
    if (next == stops_.size()) return stops_.back().color;
    const ColorEntry<float>& s = stops_[next];
    const ColorEntry<float>& p = stops_[next - 1];

    // The fraction is formed in extended precision and rounded to float before use; the weight
    // of the lower stop is 1 - f from that rounded f, in double (exact for most f, and a single
    // rounding otherwise). Each component is mixed in extended precision and rounded once to
    // float. Both steps take a double-precision path where it gives the same floats.
    const float f = detail::gradientFraction(t, p.position, s.position);
    return {detail::gradientMix(f, p.color.r, s.color.r),
            detail::gradientMix(f, p.color.g, s.color.g),
            detail::gradientMix(f, p.color.b, s.color.b)};
}

namespace {

// |(c - b) - (b - a)|, each difference rounded to float.
float colorBend(float a, float b, float c) {
    const float up = c - b;
    const float down = b - a;
    const float bend = up - down;
    return std::fabs(bend);
}

// Whether b lies on the straight line from a to c closely enough to be dropped. Both
// thresholds are strict, so a NaN anywhere keeps the stop.
bool isRedundant(const ColorEntry<float>& a, const ColorEntry<float>& b,
                 const ColorEntry<float>& c) {
    // 2b - a - c is formed in extended precision, left to right, and rounded to double.
    const double positionBend = static_cast<double>(2.0L * b.position - a.position - c.position);
    if (!(std::fabs(positionBend) < 0.015)) return false;
    // Summed in double, red first.
    const double colorSum = static_cast<double>(colorBend(a.color.r, b.color.r, c.color.r)) +
                            colorBend(a.color.g, b.color.g, c.color.g) +
                            colorBend(a.color.b, b.color.b, c.color.b);
    return colorSum < 0.05;
}

}  // namespace

void Gradientf::Simplify() {
    if (stops_.size() <= 2) return;
    // A pass examines consecutive triples of the stops as they were when it began: a removed
    // stop always lies behind the A of the next triple. So each pass marks, then compacts.
    std::vector<char> removed;
    bool removedAny = true;
    while (removedAny) {
        removedAny = false;
        const std::size_t n = stops_.size();
        removed.assign(n, 0);
        std::size_t a = 0;
        while (a + 2 < n) {
            if (isRedundant(stops_[a], stops_[a + 1], stops_[a + 2])) {
                removed[a + 1] = 1;
                removedAny = true;
                // The pass resumes at C: the triple (A, C, D) waits for the next pass.
                a += 2;
            } else {
                a += 1;
            }
        }
        if (!removedAny) break;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (!removed[i]) stops_[kept++] = stops_[i];
        stops_.resize(kept);
    }
    rebuildKeys();
}

std::ostream& operator<<(std::ostream& os, const Gradientf& gradient) {
    os << '{';
    const char* separator = "";
    for (const ColorEntry<float>& stop : gradient.stops()) {
        os << separator << stop;
        separator = ", ";
    }
    return os << '}';
}

namespace {

std::uint32_t displayByte(float c) {
    if (!(c >= 0.0f)) {
        c = 0.0f;
    } else if (c > 1.0f) {
        c = 1.0f;
    }
    // c * 255 is exact in double, so rounding it to float is the only rounding before the
    // truncation; over [0, 1] it never lifts a product to the next integer, so 255 needs c = 1.
    const float scaled = static_cast<float>(static_cast<double>(c) * 255.0);
    return static_cast<std::uint32_t>(static_cast<int>(scaled)) & 0xffu;
}

}  // namespace

std::uint32_t displayColor(ColorRGBf c) {
    return displayByte(c.r) | (displayByte(c.g) << 8) | (displayByte(c.b) << 16);
}

}  // namespace qm
