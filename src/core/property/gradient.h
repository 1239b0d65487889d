// Gradientf: a colour ramp over the unit interval, made of colour stops and sampled by linear
// interpolation. The Light and Plasma render modes colour points with it.
#pragma once

#include "core/hot_path.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace qm {

// A render colour; components are stored as given, nominally 0 to 1, and clamped only when
// converted for display.
template <class T>
struct ColorRGB {
    T r;
    T g;
    T b;

    friend bool operator==(const ColorRGB&, const ColorRGB&) = default;
};

using ColorRGBf = ColorRGB<float>;

template <class T>
std::ostream& operator<<(std::ostream& os, const ColorRGB<T>& c) {
    const auto precision = os.precision(9);
    os << '(' << c.r << ", " << c.g << ", " << c.b << ')';
    os.precision(precision);
    return os;
}

// One stop of a gradient: a place on the ramp and the colour there.
template <class T>
struct ColorEntry {
    double position;
    ColorRGB<T> color;

    friend bool operator==(const ColorEntry&, const ColorEntry&) = default;
};

template <class T>
std::ostream& operator<<(std::ostream& os, const ColorEntry<T>& e) {
    const auto precision = os.precision(17);
    os << e.position << ": " << e.color;
    os.precision(precision);
    return os;
}

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
// 2. The test. With y finite and non-zero, |y| in [2^e, 2^(e+1)) and ulp = 2^(e-52) the spacing
//    of doubles there, let w = y (1 + 2^-49) and w' = y (1 - 2^-49), each rounded to double.
//    2^-49 |y| is at least 8 ulp and each rounding moves its product by at most one ulp (half a
//    unit of the next binade up), so w and w' lie at least 7 ulp beyond y on either side.
//    Rounding to float is monotonic: if float(w) == float(w'), every value between them rounds
//    to that float, y and any x within 7 ulp of y included. Near a float midpoint (about one
//    value in 2^25) the test fails and the extended path answers.
//
// 3. Error of the fraction, for results y in [2^-126, 1]. With u = 2^-53, v = 2^-64 and
//    E = (t - p) / (s - p) exactly: such a y implies finite, non-zero t - p and s - p (an
//    overflow gives an infinite or zero quotient, a NaN fails the test), and a difference of
//    doubles is correctly rounded even below the normal range, so
//    y = E (1 + e1)(1 + e3) / (1 + e2) with |ei| <= u (the quotient is normal), and
//    |y - E| <= 3.0000001 u |E|. Likewise |x - E| <= 3.0000001 v |E|: long double has the
//    exponent range for any double operands. Then
//    |y - x| <= (3.0000001 u + 3.0000001 v) |E| <= 3.002 u |y| < 3.01 ulp, since |y| < 2^53 ulp,
//    well within the 7 ulp of point 2.
//
// 4. Error of a mix, for f in [0, 1] (g = 1 - f is then 0 or at least 2^-24, in [0, 1]) and
//    products A = g * lower and B = f * upper of the same sign or zero. B, a product of two
//    24-bit significands, is exact in both precisions; A, zero or at least 2^-173 in
//    magnitude, is a normal double, rounded with relative error u (v in long double). With
//    E = A + B and |A|, |B| <= |E| (same signs): the double sum is
//    y = (A (1 + a) + B)(1 + b), |a|, |b| <= u (a sum below the normal range is exact), so
//    |y - E| <= u |A| + u (1 + u) |E| <= 2.0000001 u |E|; likewise |x - E| <= 2.0000001 v |E|;
//    |y - x| <= 2.002 u |y| < 2.01 ulp (within point 2's 7). Products of opposite signs can
//    cancel and are left to the extended path, as are non-finite results. Same-sign products
//    give y = 0 only when both are exactly 0; both precisions then add the same zeros alike.
//
// 5. Exact results. Whatever the distance to a midpoint, a mix computed exactly in double is
//    exact in long double too, so y == x. Two cheap cases cover the colour components 0 and 1
//    that colour maps are full of, where y (f * upper, or 1 - f) lies on a float midpoint as
//    often as not: A = 0 (then y = B, exact), and B = 0 with g of at most 29 significant bits
//    (g times a 24-bit lower is then exact: every f from 2^-6 up gives such a g). NaN results
//    are left to the extended path, whose payload rules differ.

// Whether ColorAt takes the double-precision paths. Not today: in the render benchmark (Lumiere
// and Plasma on Lorenz, one core of an x86-64 server) they made the render about a fifth
// slower. The x87 code is short (about thirty-five operations for the three components) and
// throughput-bound; the double arithmetic alone is shorter and half again as fast, but the
// tests of points 2 and 5 double its length. They stay built, and tested against the extended
// path, for a processor or a compiler that changes the balance.
inline constexpr bool kDoubleFastPath = false;

// Point 2: whether everything within 7 units of y's last place rounds to the same float.
QM_HOT_INLINE bool roundsAlone(double y) {
    return static_cast<float>(y * (1 + 0x1p-49)) == static_cast<float>(y * (1 - 0x1p-49));
}

// 2^-126 <= y <= 1 (positive doubles order as their bits; negatives and NaN fall outside).
QM_HOT_INLINE bool inFractionRange(double y) {
    constexpr std::uint64_t lo = std::bit_cast<std::uint64_t>(0x1p-126);
    constexpr std::uint64_t hi = std::bit_cast<std::uint64_t>(1.0);
    return std::bit_cast<std::uint64_t>(y) - lo <= hi - lo;
}

// The extended-precision steps, out of line: the fast paths below hardly ever need them.
[[gnu::noinline]] float gradientFractionExtended(double t, double p, double s);
[[gnu::noinline]] float gradientMixExtended(float f, float lower, float upper);
// The three components with fallbacks where needed.
[[gnu::noinline]] ColorRGBf gradientMixColors(float f, const ColorRGBf& lower,
                                              const ColorRGBf& upper);
// fraction and mix, out of line for the tests that hold them to the extended steps.
float gradientFraction(double t, double p, double s);
float gradientMix(float f, float lower, float upper);

QM_HOT_INLINE float fraction(double t, double p, double s) {
    const double y = (t - p) / (s - p);
    if (inFractionRange(y) && roundsAlone(y)) return static_cast<float>(y);
    return gradientFractionExtended(t, p, s);
}

// The double mix of one component, and whether it is proven to round as the extended one.
struct Mixed {
    double y;
    bool exact;
};

QM_HOT_INLINE Mixed mixDouble(float f, float lower, float upper) {
    const double g = 1.0 - static_cast<double>(f);
    const double a = g * lower;
    const double b = static_cast<double>(f) * upper;
    const double y = a + b;
    const bool fInRange = (f >= 0.0f) & (f <= 1.0f);
    // Point 4: products of the same sign (a zero counts as positive), a finite result.
    const bool sameSign = (a >= 0) == (b >= 0);
    const bool bounded = sameSign & (y - y == 0) & roundsAlone(y);
    // Point 5: an exact result.
    const bool gShort = (std::bit_cast<std::uint64_t>(g) & 0xffffff) == 0;
    const bool exact = ((a == 0) | ((b == 0) & gShort)) & (y == y);
    return {y, fInRange && (bounded || exact)};
}

QM_HOT_INLINE float mix(float f, float lower, float upper) {
    const Mixed m = mixDouble(f, lower, upper);
    return m.exact ? static_cast<float>(m.y) : gradientMixExtended(f, lower, upper);
}

}  // namespace detail

// Stops are kept in non-decreasing order of position; every builder in the program puts the
// first stop at 0 and the last at 1. Sampling neither locks nor allocates, so the render worker
// may call ColorAt; the stops must not be replaced while a worker samples the gradient.
class Gradientf {
public:
    void Clear() {
        stops_.clear();
        keys_.clear();
    }

    // Inserts before the first stop whose position is >= position, so a stop at an existing
    // position goes in front of the stops already there; a NaN position goes to the end.
    void AddStop(double position, ColorRGBf color);

    // (0, 0, 0) for an empty gradient; the end colours outside (0, 1); t = NaN gives the first.
    // Inside, the pair of stops around t is found by binary search (halving, then a short walk).
    ColorRGBf ColorAt(double t) const;

    // Removes interior stops that linear interpolation between their neighbours reproduces,
    // pass after pass until a pass removes nothing. The end stops are always kept.
    void Simplify();

    std::size_t count() const { return stops_.size(); }
    const std::vector<ColorEntry<float>>& stops() const { return stops_; }

    friend bool operator==(const Gradientf& a, const Gradientf& b) { return a.stops_ == b.stops_; }

private:
    // Index of the first stop whose position is >= t, or count() if none; NaN positions never
    // qualify. t is not NaN.
    QM_HOT_INLINE std::size_t firstAtOrAbove(double t) const {
        // !(key >= t) rather than key < t, so that the NaN keys of leading NaN stops count as
        // below every t. Halving narrows a long gradient (a colour map of thousands of lines)
        // down to a few stops, which a walk then covers.
        constexpr std::size_t kWalked = 16;
        const double* keys = keys_.data();
        std::size_t first = 0;
        std::size_t length = keys_.size();
        while (length > kWalked) {
            const std::size_t half = length / 2;
            if (!(keys[first + half] >= t)) {
                first += half + 1;
                length -= half + 1;
            } else {
                length = half;
            }
        }
        // The walk's branches follow the orbit: consecutive points mostly sample the same
        // pair of stops, so they are predicted, and the loads and the arithmetic after the
        // search start before it has ended.
        const double* key = keys + first;
        const double* end = key + length;
        while (key != end && !(*key >= t)) ++key;
        return static_cast<std::size_t>(key - keys);
    }
    void rebuildKeys();

    std::vector<ColorEntry<float>> stops_;
    // The search keys, one per stop: its position, or for a NaN position the key of the stop
    // before it (NaN for leading NaN stops). Numeric positions are non-decreasing whichever way
    // the stops came (AddStop skips NaN stops as it walks), so "key >= t" is false on a prefix
    // of the keys and true after it, and the first key >= t belongs to the first stop whose
    // position is >= t: exactly the stop a walk from the first stop would find.
    std::vector<double> keys_;
};

std::ostream& operator<<(std::ostream& os, const Gradientf& gradient);

// 24-bit display colour of c: red in bits 0-7, green in bits 8-15, blue in bits 16-23.
// Each component is clamped to [0, 1] (NaN to 0) and becomes trunc(float(255 * c)), so only
// a component of exactly 1 or more reaches 255.
std::uint32_t displayColor(ColorRGBf c);

}  // namespace qm
