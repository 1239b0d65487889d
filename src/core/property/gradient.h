// Gradientf: a colour ramp over the unit interval, made of colour stops and sampled by linear
// interpolation. The Light and Plasma render modes colour points with it.
#pragma once

#include "core/hot_path.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// at every step and a long division in the middle. The fast paths compute nearly the same
// expressions in double and return float(double result) only where that is provably
// float(long double result); the rest (about one case in ten million, plus non-finite and
// opposite-sign cases) takes the extended path itself.
//
// 1. Rounding to float. Round to nearest sends every value of a closed interval that holds no
//    float midpoint (no rounding boundary) to the same float. So if the double result y and
//    the long double result x differ by less than the distance from y to the nearest float
//    midpoint, float(y) == float(x). Each of x and y is rounded twice (the exact value to its
//    own precision, then to float); the argument compares x and y directly and needs no other
//    property of the first rounding than its error bound.
//
// 2. The tests. For the fraction, with |y| in [2^e, 2^(e+1)), e from -126 to 127 (a normal
//    float range), and ulp = 2^(e-52) the spacing of doubles there: the float midpoints of that
//    binade are the doubles whose low 29 significand bits are 1 followed by 28 zeros, and the
//    only other midpoint within 2^27 ulp is below 2^e, at 2^e - 2^(e-25). So if the low 29 bits
//    of y are more than kMidpointMargin from that pattern, no midpoint lies within
//    kMidpointMargin ulp of y (roundsAloneBits). For the colour components, three at once in
//    vector registers where integer tests are dear: with y finite and non-zero, let
//    w = y (1 + 2^-49) and w' = y (1 - 2^-49), each rounded to double. 2^-49 |y| is at least
//    8 ulp and each rounding moves its product by at most one ulp (half a unit of the next
//    binade up), so w and w' lie at least 7 ulp beyond y on either side. Rounding to float is
//    monotonic: if float(w) == float(w'), every value between them rounds to that float, y and
//    any x within 7 ulp of y included. Near a float midpoint (about one value in 2^25) either
//    test fails and the extended path answers.
//
// 3. Error of the fraction, for results y in [2^-126, 1]. ColorAt multiplies by the stored
//    reciprocal of the stop span instead of dividing: y = (t - p) * R, R = 1 / (s - p), every
//    step rounded to double, R kept only where it is a normal double. With u = 2^-53,
//    v = 2^-64 and E = (t - p) / (s - p) exactly: such a y implies finite, non-zero t - p, and
//    a difference of doubles is correctly rounded even below the normal range, so
//    y = E (1 + e1)(1 + e3)(1 + e4) / (1 + e2) with |ei| <= u, and |y - E| <= 4.0000001 u |E|.
//    x = E (1 + e1')(1 + e3') / (1 + e2') with |ei'| <= v (long double has the exponent range
//    for any double operands), |x - E| <= 3.0000001 v |E|. Then
//    |y - x| <= (4.0000001 u + 3.0000001 v) |E| <= 4.003 u |y| < 4.01 ulp, since |y| < 2^53 ulp,
//    within the margin of point 2.
//
// 4. Error of a mix, for f in [0, 1] (g = 1 - f is then 0 or at least 2^-24, in [0, 1]) and
//    products A = g * lower and B = f * upper of the same sign or zero. B, a product of two
//    24-bit significands, is exact in both precisions; A, zero or at least 2^-173 in
//    magnitude, is a normal double, rounded with relative error u (v in long double). With
//    E = A + B and |A|, |B| <= |E| (same signs): the double sum is
//    y = (A (1 + a) + B)(1 + b), |a|, |b| <= u, so
//    |y - E| <= u |A| + u (1 + u) |E| <= 2.0000001 u |E|; likewise |x - E| <= 2.0000001 v |E|;
//    |y - x| <= 2.002 u |y| < 2.01 ulp, within the margin. Products of opposite signs can
//    cancel and are left to the extended path, as are non-finite results.
//
// 5. Exact results. Whatever the distance to a midpoint, a mix computed exactly in double is
//    exact in long double too, so y == x. Two cheap cases cover the colour components 0 and 1
//    that colour maps are full of, where y (f * upper, or 1 - f) lies on a float midpoint as
//    often as not: A = 0 (then y = B, exact), and B = 0 with g of at most 29 significant bits
//    (g times a 24-bit lower is then exact: every f from 2^-6 up gives such a g). NaN results
//    are left to the extended path, whose payload rules differ.

// In units of the last place of y; point 3's bound is 4.01.
inline constexpr std::uint64_t kMidpointMargin = 16;

// Point 2, the fraction's test: |y| in [2^-126, 2^128) and no float midpoint within
// kMidpointMargin ulp of y.
QM_HOT_INLINE bool roundsAloneBits(double y) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(y);
    constexpr std::uint64_t lo = std::bit_cast<std::uint64_t>(0x1p-126);
    constexpr std::uint64_t hi = std::bit_cast<std::uint64_t>(0x1p128);
    const std::uint64_t magnitude = bits & 0x7fffffffffffffff;
    constexpr std::uint64_t midpoint = std::uint64_t{1} << 28;
    const std::uint64_t low = bits & ((std::uint64_t{1} << 29) - 1);
    return (magnitude - lo < hi - lo) & (low - (midpoint - kMidpointMargin) > 2 * kMidpointMargin);
}

// Point 2, the components' test: everything within 7 units of y's last place rounds to the
// same float.
QM_HOT_INLINE bool roundsAlone(double y) {
    return static_cast<float>(y * (1 + 0x1p-49)) == static_cast<float>(y * (1 - 0x1p-49));
}

// 2^-126 <= y <= 1 (positive doubles order as their bits; negatives and NaN fall outside).
QM_HOT_INLINE bool inFractionRange(double y) {
    constexpr std::uint64_t lo = std::bit_cast<std::uint64_t>(0x1p-126);
    constexpr std::uint64_t hi = std::bit_cast<std::uint64_t>(1.0);
    return std::bit_cast<std::uint64_t>(y) - lo <= hi - lo;
}

// The reciprocal of the span from p to s as the fast fraction uses it: 1 / (s - p) in double
// where that is a normal double, NaN otherwise (the extended path then answers).
inline double inverseSpan(double p, double s) {
    const double r = 1.0 / (s - p);
    const double magnitude = r < 0 ? -r : r;
    return magnitude >= 0x1p-1022 && magnitude <= 0x1.fffffffffffffp1023
               ? r
               : std::numeric_limits<double>::quiet_NaN();
}

// The extended-precision steps, out of line: the fast paths below hardly ever need them.
[[gnu::noinline]] float gradientFractionExtended(double t, double p, double s);
[[gnu::noinline]] float gradientMixExtended(float f, float lower, float upper);
// The three components with fallbacks where needed.
[[gnu::noinline]] ColorRGBf gradientMixColors(float f, const ColorRGBf& lower,
                                              const ColorRGBf& upper);
// fraction, mix and the three-component mix of ColorAt, out of line for the tests that hold them
// to the extended steps.
float gradientFraction(double t, double p, double s);
float gradientMix(float f, float lower, float upper);
ColorRGBf gradientMixThree(float f, const ColorRGBf& lower, const ColorRGBf& upper);

// inverse is inverseSpan(p, s).
QM_HOT_INLINE float fraction(double t, double p, double s, double inverse) {
    const double y = (t - p) * inverse;
    if (inFractionRange(y) & roundsAloneBits(y)) [[likely]]
        return static_cast<float>(y);
    return gradientFractionExtended(t, p, s);
}

// The double mix of one component, and whether it is proven to round as the extended one;
// f is in [0, 1].
struct Mixed {
    double y;
    bool exact;
};

QM_HOT_INLINE Mixed mixDouble(float f, float lower, float upper) {
    const double g = 1.0 - static_cast<double>(f);
    const double a = g * lower;
    const double b = static_cast<double>(f) * upper;
    const double y = a + b;
    // Point 4: products of the same sign bit (a -0 with a positive product goes to point 5),
    // a finite result.
    const bool sameSign = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(a) ^
                                                    std::bit_cast<std::uint64_t>(b)) >= 0;
    const bool bounded = sameSign & (y - y == 0) & roundsAlone(y);
    // Point 5: an exact result.
    const bool gShort = (std::bit_cast<std::uint64_t>(g) & 0xffffff) == 0;
    const bool exact = ((a == 0) | ((b == 0) & gShort)) & (y == y);
    return {y, static_cast<bool>(bounded | exact)};
}

// The three components of a mix for f in [0, 1] into out, or false (out undefined) when any of
// them needs the extended path. The same operations as mixDouble, two lanes at a time.
QM_HOT_INLINE bool mixColors(float f, const ColorRGBf& lower, const ColorRGBf& upper,
                             ColorRGBf& out) {
#if defined(__SSE2__)
    const double gScalar = 1.0 - static_cast<double>(f);
    const __m128d g = _mm_set1_pd(gScalar), fd = _mm_set1_pd(f), zero = _mm_setzero_pd();
    const __m128d up = _mm_set1_pd(1 + 0x1p-49), down = _mm_set1_pd(1 - 0x1p-49);
    const bool gShort = (std::bit_cast<std::uint64_t>(gScalar) & 0xffffff) == 0;
    // Lanes (r, g), then (b, 0); the zero lane passes every test.
    const auto pair = [](const ColorRGBf& c) {
        return _mm_cvtps_pd(
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&c))));
    };
    const auto single = [](const ColorRGBf& c) { return _mm_cvtps_pd(_mm_load_ss(&c.b)); };
    // The mix of two lanes, and the lanes whose float is proven.
    const auto half = [&](__m128d lowerLanes, __m128d upperLanes, __m128& result) {
        const __m128d a = _mm_mul_pd(g, lowerLanes);
        const __m128d b = _mm_mul_pd(fd, upperLanes);
        const __m128d y = _mm_add_pd(a, b);
        const int differentSigns = _mm_movemask_pd(_mm_xor_pd(a, b));
        const int finite = _mm_movemask_pd(_mm_cmpeq_pd(_mm_sub_pd(y, y), zero));
        const int rounds = _mm_movemask_ps(
            _mm_cmpeq_ps(_mm_cvtpd_ps(_mm_mul_pd(y, up)), _mm_cvtpd_ps(_mm_mul_pd(y, down))));
        const int aZero = _mm_movemask_pd(_mm_cmpeq_pd(a, zero));
        const int bZero = gShort ? _mm_movemask_pd(_mm_cmpeq_pd(b, zero)) : 0;
        const int ordered = _mm_movemask_pd(_mm_cmpord_pd(y, y));
        result = _mm_cvtpd_ps(y);
        return (~differentSigns & finite & rounds) | ((aZero | bZero) & ordered);
    };
    __m128 rg, b0;
    const int ok = half(pair(lower), pair(upper), rg) & half(single(lower), single(upper), b0);
    out.r = _mm_cvtss_f32(rg);
    out.g = _mm_cvtss_f32(_mm_shuffle_ps(rg, rg, 1));
    out.b = _mm_cvtss_f32(b0);
    return (ok & 3) == 3;
#else
    const Mixed r = mixDouble(f, lower.r, upper.r);
    const Mixed g = mixDouble(f, lower.g, upper.g);
    const Mixed b = mixDouble(f, lower.b, upper.b);
    out = {static_cast<float>(r.y), static_cast<float>(g.y), static_cast<float>(b.y)};
    return r.exact & g.exact & b.exact;
#endif
}

QM_HOT_INLINE float mix(float f, float lower, float upper) {
    const Mixed m = mixDouble(f, lower, upper);
    const bool fInRange = (f >= 0.0f) & (f <= 1.0f);
    return fInRange & m.exact ? static_cast<float>(m.y) : gradientMixExtended(f, lower, upper);
}

// What ColorAt does for t in one piece of a gradient, prepared for sumOfColorsAt: either one
// colour (before the first stop, after the last, or a gradient of one stop) or the
// interpolation between two stops, with their colours widened to double and the sign and zero
// facts its tests rely on worked out once.
//   An interpolating segment whose colours are not finite, or that has a component whose lower
//   colour is non-zero with the opposite sign bit to its upper one (point 4 needs products of
//   the same sign), gets a NaN inverse: the fraction's test then fails and ColorAt answers.
struct GradientSegment {
    double lower[3];
    double upper[3];
    double position;  // of the lower stop; 0 for one colour
    double inverse;   // inverseSpan of the two stops; 0 for one colour
    // All bits set for one colour (lower holds it, upper is -0, the fraction is taken as 0),
    // else 0. A colour that is not finite is left to ColorAt as above (constant 0, inverse NaN).
    double constant;
    // Components (bit 0 red, 1 green, 2 blue) whose lower colour is 0: their mix is
    // exact (point 5), and those whose upper colour is 0: exact when 1 - f is short. The
    // ...Second forms give the same as the second gradient's lanes in sumOfColorsAt (blue
    // bit 3, red 4, green 5).
    std::uint8_t lowerZero;
    std::uint8_t upperZero;
    std::uint8_t lowerZeroSecond;
    std::uint8_t upperZeroSecond;
    // lowerZero and upperZero as lanes of 32 bits for the AVX2 path: all ones for a component
    // (r, g, b) whose colour is 0; the fourth lane is 0.
    std::uint32_t lowerZeroLanes[4];
    std::uint32_t upperZeroLanes[4];
};

}  // namespace detail

// Stops are kept in non-decreasing order of position; every builder in the program puts the
// first stop at 0 and the last at 1. Sampling neither locks nor allocates, so the render worker
// may call ColorAt; the stops must not be replaced while a worker samples the gradient.
class Gradientf {
public:
    Gradientf() { rebuildLookup(); }

    void Clear() {
        stops_.clear();
        keys_.clear();
        inverseSpans_.clear();
        rebuildLookup();
    }

    // Inserts before the first stop whose position is >= position, so a stop at an existing
    // position goes in front of the stops already there; a NaN position goes to the end.
    void AddStop(double position, ColorRGBf color);

    // (0, 0, 0) for an empty gradient; the end colours outside (0, 1); t = NaN gives the first.
    // Inside, the pair of stops around t is found by binary search (halving, then a short walk).
    // Inline: the Light modes call it twice per point, and a call returns the colour through
    // memory.
    QM_HOT_INLINE ColorRGBf ColorAt(double t) const;

    // Removes interior stops that linear interpolation between their neighbours reproduces,
    // pass after pass until a pass removes nothing. The end stops are always kept.
    void Simplify();

    // Finds the piece of the gradient that holds t (see detail::GradientSegment): by a table
    // of cells over (0, 1), each giving the first stop at or above its start, and a walk that
    // is almost always empty. It holds the tables' addresses, so that a loop over many points
    // keeps them in registers (the stores to its own arrays would otherwise reload them from
    // the gradient); it is valid until the stops change.
    struct SegmentFinder {
        const std::uint32_t* cells;
        const double* keys;
        const detail::GradientSegment* segments;
        double cellCount;
        std::size_t pastEnd;

        QM_HOT_INLINE const detail::GradientSegment& operator()(double t) const {
            std::size_t i;
            if (!(t > 0.0)) [[unlikely]] {
                i = 0;
            } else if (t >= 1.0) [[unlikely]] {
                i = pastEnd;
            } else {
                // t * cellCount is exact (a power of two) and below cellCount.
                i = std::min<std::size_t>(
                    cells[static_cast<std::size_t>(static_cast<std::int32_t>(t * cellCount))],
                    pastEnd);
                while (!(keys[i] >= t)) ++i;
            }
            return segments[i];
        }
    };
    SegmentFinder segmentFinder() const {
        return {cells_.data(), lookupKeys_.data(), segments_.data(), cellCount_, pastEnd_};
    }
    QM_HOT_INLINE const detail::GradientSegment& segmentAt(double t) const {
        return segmentFinder()(t);
    }

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
    void setInverseSpan(std::size_t i);
    // segments_, cells_ and lookupKeys_ from the stops, keys and spans: all of them, or after
    // stop i was inserted (at about the cost of the insertion itself).
    void rebuildLookup();
    void insertIntoLookup(std::size_t i);
    void setSegment(std::size_t i);

    std::vector<ColorEntry<float>> stops_;
    // The search keys, one per stop: its position, or for a NaN position the key of the stop
    // before it (NaN for leading NaN stops). Numeric positions are non-decreasing whichever way
    // the stops came (AddStop skips NaN stops as it walks), so "key >= t" is false on a prefix
    // of the keys and true after it, and the first key >= t belongs to the first stop whose
    // position is >= t: exactly the stop a walk from the first stop would find.
    std::vector<double> keys_;
    // Per stop i > 0, detail::inverseSpan of stop i - 1's position and its own (0 for stop 0).
    std::vector<double> inverseSpans_;
    // segmentAt's data. segments_[i] is what ColorAt does when the first stop at or above t is
    // stop i: the first colour for i = 0, the last for i = count(), else stops i - 1 and i.
    // cells_[k] is the first stop whose key is at or above k / cellCount_ (kPastEnd for none),
    // and lookupKeys_ the keys followed by +infinity, which ends every walk. Every change of
    // the stops updates them, so that sampling only reads: an insertion touches the segments
    // around the new stop and the cells above it (up to the last key), and the cells, a few
    // per stop, are laid out again only when the number of stops doubles.
    std::vector<detail::GradientSegment> segments_;
    static constexpr std::uint32_t kPastEnd = 0xffffffff;
    std::vector<std::uint32_t> cells_;
    std::vector<double> lookupKeys_;
    double cellCount_ = 1;
    std::size_t pastEnd_ = 0;  // count()
};

QM_HOT_INLINE ColorRGBf Gradientf::ColorAt(double t) const {
    if (stops_.empty()) [[unlikely]]
        return {0.0f, 0.0f, 0.0f};
    // !(t > 0) rather than t <= 0, so that NaN also takes the first colour.
    if (stops_.size() == 1 || !(t > 0.0)) return stops_.front().color;
    if (t >= 1.0) return stops_.back().color;

    const std::size_t next = firstAtOrAbove(t);
    // Without end stops at exactly 0 and 1 one neighbour may be missing: take the nearest end.
    if (next == 0) [[unlikely]]
        return stops_.front().color;
    if (next == stops_.size()) [[unlikely]]
        return stops_.back().color;
    const ColorEntry<float>& s = stops_[next];
    const ColorEntry<float>& p = stops_[next - 1];

    // The fraction is formed in extended precision and rounded to float before use; the weight
    // of the lower stop is 1 - f from that rounded f, in double (exact for most f, and a single
    // rounding otherwise). Each component is mixed in extended precision and rounded once to
    // float. The double paths give the same floats (see detail); f from the fast fraction is in
    // [2^-126, 1].
    const float f = detail::fraction(t, p.position, s.position, inverseSpans_[next]);
    ColorRGBf c;
    const bool fInRange = (f >= 0.0f) & (f <= 1.0f);
    if (fInRange && detail::mixColors(f, p.color, s.color, c)) [[likely]]
        return c;
    return detail::gradientMixColors(f, p.color, s.color);
}

namespace detail {

[[gnu::noinline]] ColorRGBf sumOfColorsAtSlowly(const Gradientf& first, double t1,
                                                const Gradientf& second, double t2);

// sumOfColorsAt's fast path: the sum into out, or false (out untouched) where ColorAt must
// answer. The two lookups share vector registers (the fractions two lanes, the six mixes three
// pairs of lanes) and the tests of ColorAt's fast paths.
QM_HOT_INLINE bool sumOfColorsFast(const Gradientf& first, double t1, const Gradientf& second,
                                   double t2, ColorRGBf& out);

// The same with the segments of t1 and t2 already found (segmentAt).
QM_HOT_INLINE bool sumOfSegmentColours(const GradientSegment& s, double t1,
                                       const GradientSegment& a, double t2, ColorRGBf& out) {
#if defined(__SSE2__)
    const auto both = [](const double& x, const double& y) {
        return _mm_loadh_pd(_mm_load_sd(&x), &y);
    };
    // The fractions (t - p) * R, first gradient in lane 0, and detail::fraction's tests: the
    // range [2^-126, 1] and the low 29 bits more than kMidpointMargin from a midpoint, as
    // 32-bit differences from 2^28 (the bits lie in each lane's low half).
    const __m128d constant = both(s.constant, a.constant);
    const __m128d y = _mm_mul_pd(_mm_sub_pd(_mm_set_pd(t2, t1), both(s.position, a.position)),
                                 both(s.inverse, a.inverse));
    const __m128d inRange =
        _mm_and_pd(_mm_cmpge_pd(y, _mm_set1_pd(0x1p-126)), _mm_cmple_pd(y, _mm_set1_pd(1.0)));
    const __m128i fromMidpoint =
        _mm_sub_epi32(_mm_and_si128(_mm_castpd_si128(y), _mm_set1_epi64x(0x1fffffff)),
                      _mm_set1_epi64x(std::int64_t{1} << 28));
    constexpr int margin = static_cast<int>(detail::kMidpointMargin);
    const __m128i far = _mm_or_si128(_mm_cmpgt_epi32(fromMidpoint, _mm_set1_epi32(margin)),
                                     _mm_cmplt_epi32(fromMidpoint, _mm_set1_epi32(-margin)));
    const __m128d fractionOk = _mm_or_pd(
        _mm_and_pd(inRange, _mm_castsi128_pd(_mm_shuffle_epi32(far, _MM_SHUFFLE(2, 2, 0, 0)))),
        constant);
    // f as the float it is rounded to, 0 for one colour; g = 1 - f.
    const __m128d f = _mm_andnot_pd(constant, _mm_cvtps_pd(_mm_cvtpd_ps(y)));
    const __m128d g = _mm_sub_pd(_mm_set1_pd(1.0), f);
    // Lanes (first r, first g), (first b, second b), (second r, second g).
    const __m128d f0 = _mm_unpacklo_pd(f, f), f2 = _mm_unpackhi_pd(f, f);
    const __m128d g0 = _mm_unpacklo_pd(g, g), g2 = _mm_unpackhi_pd(g, g);
    const __m128d y0 =
        _mm_add_pd(_mm_mul_pd(g0, _mm_loadu_pd(s.lower)), _mm_mul_pd(f0, _mm_loadu_pd(s.upper)));
    const __m128d y1 = _mm_add_pd(_mm_mul_pd(g, both(s.lower[2], a.lower[2])),
                                  _mm_mul_pd(f, both(s.upper[2], a.upper[2])));
    const __m128d y2 =
        _mm_add_pd(_mm_mul_pd(g2, _mm_loadu_pd(a.lower)), _mm_mul_pd(f2, _mm_loadu_pd(a.upper)));
    // detail::mixColors' tests. The segment fixes the signs and finiteness; what remains is
    // the rounding test and the exact cases of a zero colour.
    const __m128d up = _mm_set1_pd(1 + 0x1p-49), down = _mm_set1_pd(1 - 0x1p-49);
    const __m128 rounds01 = _mm_cmpeq_ps(
        _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(y0, up)), _mm_cvtpd_ps(_mm_mul_pd(y1, up))),
        _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(y0, down)), _mm_cvtpd_ps(_mm_mul_pd(y1, down))));
    const __m128 rounds2 =
        _mm_cmpeq_ps(_mm_cvtpd_ps(_mm_mul_pd(y2, up)), _mm_cvtpd_ps(_mm_mul_pd(y2, down)));
    // Bits 0 to 5 in the lane order above.
    const int rounds = _mm_movemask_ps(rounds01) | ((_mm_movemask_ps(rounds2) & 3) << 4);
    // g short: its low 24 significand bits zero (bit 0 for the first g, bit 2 for the second).
    const int gShort = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(
        _mm_and_si128(_mm_castpd_si128(g), _mm_set1_epi64x(0xffffff)), _mm_setzero_si128())));
    const int exact = s.lowerZero | a.lowerZeroSecond | (s.upperZero & -(gShort & 1)) |
                      (a.upperZeroSecond & -((gShort >> 2) & 1));
    if (((rounds | exact) != 63) | (_mm_movemask_pd(fractionOk) != 3)) [[unlikely]]
        return false;
    // The float sums; lane 3 is not used.
    const __m128 c1 = _mm_cvtpd_ps(y1);
    const __m128 sum = _mm_add_ps(_mm_movelh_ps(_mm_cvtpd_ps(y0), c1),
                                  _mm_shuffle_ps(_mm_cvtpd_ps(y2), c1, _MM_SHUFFLE(0, 1, 1, 0)));
    _mm_storel_pi(reinterpret_cast<__m64*>(&out.r), sum);
    out.b = _mm_cvtss_f32(_mm_movehl_ps(sum, sum));
    return true;
#else
    (void)s, (void)t1, (void)a, (void)t2, (void)out;
    return false;
#endif
}

// sumOfSegmentColours for count points at once, two at a time in AVX2 lanes (run only where
// detail::avx2Lanes()): point i's sum of first[i] at t1[i] and second[i] at t2[i] into out[i]
// where answered[i], else left to ColorAt as there. first, second, t1 and t2 are read at a
// point after the last when count is odd, and out is written up to out[count + 1]: 4 bytes past
// the last colour, or 16 bytes past it for an odd count.
void sumsOfSegmentColoursAvx2(const GradientSegment* const* first, const double* t1,
                              const GradientSegment* const* second, const double* t2,
                              std::int32_t count, ColorRGBf* out, bool* answered);

QM_HOT_INLINE bool sumOfColorsFast(const Gradientf& first, double t1, const Gradientf& second,
                                   double t2, ColorRGBf& out) {
    return sumOfSegmentColours(first.segmentAt(t1), t1, second.segmentAt(t2), t2, out);
}

}  // namespace detail

// first.ColorAt(t1) + second.ColorAt(t2), component by component in float: the colour of a
// point in the Light modes.
QM_HOT_INLINE ColorRGBf sumOfColorsAt(const Gradientf& first, double t1, const Gradientf& second,
                                      double t2) {
    ColorRGBf c;
    if (detail::sumOfColorsFast(first, t1, second, t2, c)) [[likely]]
        return c;
    return detail::sumOfColorsAtSlowly(first, t1, second, t2);
}

std::ostream& operator<<(std::ostream& os, const Gradientf& gradient);

// 24-bit display colour of c: red in bits 0-7, green in bits 8-15, blue in bits 16-23.
// Each component is clamped to [0, 1] (NaN to 0) and becomes trunc(float(255 * c)), so only
// a component of exactly 1 or more reaches 255.
std::uint32_t displayColor(ColorRGBf c);

}  // namespace qm
