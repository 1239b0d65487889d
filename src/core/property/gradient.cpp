#include "core/property/gradient.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/simd_lanes.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace qm {

namespace detail {

float gradientFractionExtended(double t, double p, double s) {
    return static_cast<float>((static_cast<long double>(t) - p) /
                              (static_cast<long double>(s) - p));
}

float gradientMixExtended(float f, float lower, float upper) {
    const double g = 1.0 - static_cast<double>(f);
    return static_cast<float>(static_cast<long double>(g) * lower +
                              static_cast<long double>(f) * upper);
}

float gradientFraction(double t, double p, double s) {
    return fraction(t, p, s, inverseSpan(p, s));
}
float gradientMix(float f, float lower, float upper) {
    return mix(f, lower, upper);
}
ColorRGBf gradientMixThree(float f, const ColorRGBf& lower, const ColorRGBf& upper) {
    ColorRGBf c;
    const bool fInRange = (f >= 0.0f) & (f <= 1.0f);
    if (fInRange && mixColors(f, lower, upper, c)) return c;
    return gradientMixColors(f, lower, upper);
}

ColorRGBf gradientMixColors(float f, const ColorRGBf& lower, const ColorRGBf& upper) {
    return {mix(f, lower.r, upper.r), mix(f, lower.g, upper.g), mix(f, lower.b, upper.b)};
}

ColorRGBf sumOfColorsAtSlowly(const Gradientf& first, double t1, const Gradientf& second,
                              double t2) {
    const ColorRGBf s = first.ColorAt(t1);
    const ColorRGBf a = second.ColorAt(t2);
    return {s.r + a.r, s.g + a.g, s.b + a.b};
}

namespace {

std::uint8_t zeroComponents(const ColorRGBf& c) {
    return static_cast<std::uint8_t>((c.r == 0 ? 1 : 0) | (c.g == 0 ? 2 : 0) | (c.b == 0 ? 4 : 0));
}

std::uint8_t asSecond(std::uint8_t m) {
    return static_cast<std::uint8_t>(((m & 4) << 1) | ((m & 3) << 4));
}

bool finite(const ColorRGBf& c) {
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b);
}

GradientSegment oneColour(const ColorRGBf& c) {
    GradientSegment s{};
    const float channels[3] = {c.r, c.g, c.b};
    for (int k = 0; k < 3; ++k) {
        s.lower[k] = channels[k];
        // f is 0 here, so the mix is c + (+0 * -0) = c, a zero of either sign included.
        s.upper[k] = -0.0;
    }
    if (finite(c)) {
        s.constant = std::bit_cast<double>(~std::uint64_t{0});
    } else {
        s.inverse = std::numeric_limits<double>::quiet_NaN();
    }
    return s;
}

GradientSegment between(const ColorEntry<float>& p, const ColorEntry<float>& s, double inverse) {
    GradientSegment g{};
    const float lower[3] = {p.color.r, p.color.g, p.color.b};
    const float upper[3] = {s.color.r, s.color.g, s.color.b};
    bool sameSigns = true;
    for (int k = 0; k < 3; ++k) {
        g.lower[k] = lower[k];
        g.upper[k] = upper[k];
        sameSigns &= lower[k] == 0 || std::signbit(lower[k]) == std::signbit(upper[k]);
    }
    g.position = p.position;
    g.inverse = finite(p.color) && finite(s.color) && sameSigns
                    ? inverse
                    : std::numeric_limits<double>::quiet_NaN();
    g.lowerZero = zeroComponents(p.color);
    g.upperZero = zeroComponents(s.color);
    g.lowerZeroSecond = asSecond(g.lowerZero);
    g.upperZeroSecond = asSecond(g.upperZero);
    for (int k = 0; k < 3; ++k) {
        g.lowerZeroLanes[k] = (g.lowerZero >> k) & 1 ? ~std::uint32_t{0} : 0;
        g.upperZeroLanes[k] = (g.upperZero >> k) & 1 ? ~std::uint32_t{0} : 0;
    }
    return g;
}

}  // namespace

#if defined(__SSE2__)
namespace {

// Lane k of v in every lane.
template <int k>
QM_TARGET_AVX2 QM_HOT_INLINE __m256d laneOf(__m256d v) {
    return _mm256_permute4x64_pd(v, k * 0x55);
}

// The mix of one segment, g * lower + f * upper with f and g from lane k, in lanes r, g, b and
// an unused fourth.
template <int k>
QM_TARGET_AVX2 QM_HOT_INLINE __m256d mixOf(const GradientSegment& s, __m256d f, __m256d g) {
    // lower[0 .. 2] then upper[0], and upper[0 .. 2] then position.
    return _mm256_add_pd(_mm256_mul_pd(laneOf<k>(g), _mm256_loadu_pd(s.lower)),
                         _mm256_mul_pd(laneOf<k>(f), _mm256_loadu_pd(s.upper)));
}

// The rounding test of sumOfSegmentColours on the mixes of one point's two segments: lanes 0
// to 2 for the first segment's components, 4 to 6 for the second's.
QM_TARGET_AVX2 QM_HOT_INLINE __m256 roundsAlone(__m256d first, __m256d second) {
    const __m256d up = _mm256_set1_pd(1 + 0x1p-49), down = _mm256_set1_pd(1 - 0x1p-49);
    const __m256 above =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(_mm256_mul_pd(first, up))),
                             _mm256_cvtpd_ps(_mm256_mul_pd(second, up)), 1);
    const __m256 below =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(_mm256_mul_pd(first, down))),
                             _mm256_cvtpd_ps(_mm256_mul_pd(second, down)), 1);
    return _mm256_cmp_ps(above, below, _CMP_EQ_OQ);
}

// The exact mixes of a point's two segments, in the lanes of roundsAlone: a zero lower colour,
// or a zero upper one with a short g. shortLanes: g short (all ones) or not (0), in the first
// segment's four lanes and then the second's.
QM_TARGET_AVX2 QM_HOT_INLINE __m256i lanesOfBoth(const std::uint32_t* first,
                                                 const std::uint32_t* second) {
    return _mm256_insertf128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
}

QM_TARGET_AVX2 QM_HOT_INLINE __m256 exactMixes(const GradientSegment& s, const GradientSegment& a,
                                               __m256i shortLanes) {
    return _mm256_castsi256_ps(_mm256_or_si256(
        lanesOfBoth(s.lowerZeroLanes, a.lowerZeroLanes),
        _mm256_and_si256(lanesOfBoth(s.upperZeroLanes, a.upperZeroLanes), shortLanes)));
}

}  // namespace

static_assert(offsetof(GradientSegment, inverse) == offsetof(GradientSegment, position) + 8);
static_assert(offsetof(GradientSegment, upper) == offsetof(GradientSegment, lower) + 24 &&
              offsetof(GradientSegment, position) == offsetof(GradientSegment, upper) + 24);

// sumOfSegmentColours' operations and tests, two points in four lanes.
QM_TARGET_AVX2 void sumsOfSegmentColoursAvx2(const GradientSegment* const* first, const double* t1,
                                             const GradientSegment* const* second, const double* t2,
                                             std::int32_t count, ColorRGBf* out, bool* answered) {
    for (std::int32_t i = 0; i < count; i += 2) {
        // Lanes: point i's first and second segment, then point i + 1's.
        const GradientSegment &sP = *first[i], &aP = *second[i];
        const GradientSegment &sQ = *first[i + 1], &aQ = *second[i + 1];
        const __m256d t =
            _mm256_permute4x64_pd(_mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t1 + i)),
                                                       _mm_loadu_pd(t2 + i), 1),
                                  _MM_SHUFFLE(3, 1, 2, 0));
        // (position, inverse) of each segment.
        const __m256d spanS = _mm256_insertf128_pd(
            _mm256_castpd128_pd256(_mm_loadu_pd(&sP.position)), _mm_loadu_pd(&sQ.position), 1);
        const __m256d spanA = _mm256_insertf128_pd(
            _mm256_castpd128_pd256(_mm_loadu_pd(&aP.position)), _mm_loadu_pd(&aQ.position), 1);
        const __m256d constant = _mm256_set_pd(aQ.constant, sQ.constant, aP.constant, sP.constant);
        // The fractions and their tests.
        const __m256d y = _mm256_mul_pd(_mm256_sub_pd(t, _mm256_unpacklo_pd(spanS, spanA)),
                                        _mm256_unpackhi_pd(spanS, spanA));
        const __m256d inRange =
            _mm256_and_pd(_mm256_cmp_pd(y, _mm256_set1_pd(0x1p-126), _CMP_GE_OQ),
                          _mm256_cmp_pd(y, _mm256_set1_pd(1.0), _CMP_LE_OQ));
        const __m256i fromMidpoint = _mm256_sub_epi32(
            _mm256_and_si256(_mm256_castpd_si256(y), _mm256_set1_epi64x(0x1fffffff)),
            _mm256_set1_epi64x(std::int64_t{1} << 28));
        constexpr int margin = static_cast<int>(kMidpointMargin);
        const __m256i far =
            _mm256_or_si256(_mm256_cmpgt_epi32(fromMidpoint, _mm256_set1_epi32(margin)),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(-margin), fromMidpoint));
        const int fractionOk = _mm256_movemask_pd(_mm256_or_pd(
            _mm256_and_pd(inRange,
                          _mm256_castsi256_pd(_mm256_shuffle_epi32(far, _MM_SHUFFLE(2, 2, 0, 0)))),
            constant));
        const __m256d f = _mm256_andnot_pd(constant, _mm256_cvtps_pd(_mm256_cvtpd_ps(y)));
        const __m256d g = _mm256_sub_pd(_mm256_set1_pd(1.0), f);
        const __m256i gShort = _mm256_cmpeq_epi64(
            _mm256_and_si256(_mm256_castpd_si256(g), _mm256_set1_epi64x(0xffffff)),
            _mm256_setzero_si256());
        // The mixes, their tests, and the float sums.
        const __m256d mixSP = mixOf<0>(sP, f, g), mixAP = mixOf<1>(aP, f, g);
        const __m256d mixSQ = mixOf<2>(sQ, f, g), mixAQ = mixOf<3>(aQ, f, g);
        const int okP = _mm256_movemask_ps(_mm256_or_ps(
            roundsAlone(mixSP, mixAP),
            exactMixes(
                sP, aP,
                _mm256_permutevar8x32_epi32(gShort, _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2)))));
        const int okQ = _mm256_movemask_ps(_mm256_or_ps(
            roundsAlone(mixSQ, mixAQ),
            exactMixes(
                sQ, aQ,
                _mm256_permutevar8x32_epi32(gShort, _mm256_setr_epi32(4, 4, 4, 4, 6, 6, 6, 6)))));
        // Stored four floats wide: the fourth lands on the next colour's red, written after.
        _mm_storeu_ps(&out[i].r, _mm_add_ps(_mm256_cvtpd_ps(mixSP), _mm256_cvtpd_ps(mixAP)));
        _mm_storeu_ps(&out[i + 1].r, _mm_add_ps(_mm256_cvtpd_ps(mixSQ), _mm256_cvtpd_ps(mixAQ)));
        answered[i] = ((okP & 0x77) == 0x77) & ((fractionOk & 3) == 3);
        answered[i + 1] = ((okQ & 0x77) == 0x77) & ((fractionOk & 12) == 12);
    }
}
#endif

}  // namespace detail

namespace {

// A few cells per stop, a power of two so that t * cells is exact.
std::size_t cellsFor(std::size_t stops) {
    std::size_t cells = 64;
    while (cells < 4 * stops && cells < (std::size_t{1} << 16)) cells *= 2;
    return cells;
}

}  // namespace

void Gradientf::setSegment(std::size_t i) {
    const std::size_t n = stops_.size();
    if (n == 0)
        segments_[0] = detail::oneColour({0.0f, 0.0f, 0.0f});
    else if (i == 0)
        segments_[0] = detail::oneColour(stops_.front().color);
    else if (i == n)
        segments_[n] = detail::oneColour(stops_.back().color);
    else
        segments_[i] = detail::between(stops_[i - 1], stops_[i], inverseSpans_[i]);
}

void Gradientf::insertIntoLookup(std::size_t i) {
    const std::size_t n = stops_.size();
    pastEnd_ = n;
    if (cellsFor(n) != cells_.size()) {
        rebuildLookup();
        return;
    }
    // The segments around the new stop i and the two ends change.
    segments_.insert(segments_.begin() + static_cast<std::ptrdiff_t>(i), detail::GradientSegment{});
    for (std::size_t k : {std::size_t{0}, i, i + 1, n}) setSegment(k);
    lookupKeys_.insert(lookupKeys_.begin() + static_cast<std::ptrdiff_t>(i), keys_[i]);
    // A cell that started at a stop before i still does. The others (a suffix, as the cells
    // are non-decreasing) now start at i if its key reaches the cell, else one stop later;
    // past the end stays past the end, so that adding stops in order touches few cells.
    auto cell = std::lower_bound(cells_.begin(), cells_.end(), static_cast<std::uint32_t>(i));
    for (; cell != cells_.end(); ++cell) {
        const double start = static_cast<double>(cell - cells_.begin()) / cellCount_;
        if (keys_[i] >= start)
            *cell = static_cast<std::uint32_t>(i);
        else if (*cell != kPastEnd)
            *cell += 1;
        else
            break;
    }
}

void Gradientf::rebuildLookup() {
    const std::size_t n = stops_.size();
    pastEnd_ = n;
    segments_.resize(n + 1);
    for (std::size_t i = 0; i <= n; ++i) setSegment(i);
    lookupKeys_.assign(keys_.begin(), keys_.end());
    lookupKeys_.push_back(std::numeric_limits<double>::infinity());
    const std::size_t cells = cellsFor(n);
    cells_.resize(cells);
    cellCount_ = static_cast<double>(cells);
    std::size_t i = 0;
    for (std::size_t k = 0; k < cells; ++k) {
        const double start = static_cast<double>(k) / cellCount_;
        while (!(lookupKeys_[i] >= start)) ++i;
        cells_[k] = i < n ? static_cast<std::uint32_t>(i) : kPastEnd;
    }
}

void Gradientf::AddStop(double position, ColorRGBf color) {
    // A NaN position is greater than or equal to nothing: it goes to the end, and takes the
    // key of the stop before it.
    if (std::isnan(position)) {
        keys_.push_back(keys_.empty() ? position : keys_.back());
        stops_.push_back({position, color});
        inverseSpans_.push_back(0);
        setInverseSpan(stops_.size() - 1);
        insertIntoLookup(stops_.size() - 1);
        return;
    }
    // The stop found is a numeric one (see keys_), so the keys of the NaN stops after the new
    // stop keep coming from numeric stops after it, unchanged.
    const std::size_t i = firstAtOrAbove(position);
    keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(i), position);
    stops_.insert(stops_.begin() + static_cast<std::ptrdiff_t>(i), {position, color});
    inverseSpans_.insert(inverseSpans_.begin() + static_cast<std::ptrdiff_t>(i), 0);
    setInverseSpan(i);
    setInverseSpan(i + 1);
    insertIntoLookup(i);
}

void Gradientf::setInverseSpan(std::size_t i) {
    if (i >= stops_.size()) return;
    inverseSpans_[i] = i == 0 ? 0 : detail::inverseSpan(stops_[i - 1].position, stops_[i].position);
}

void Gradientf::rebuildKeys() {
    keys_.resize(stops_.size());
    inverseSpans_.resize(stops_.size());
    for (std::size_t i = 0; i < stops_.size(); ++i) setInverseSpan(i);
    double key = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < stops_.size(); ++i) {
        if (!std::isnan(stops_[i].position)) key = stops_[i].position;
        keys_[i] = key;
    }
    rebuildLookup();
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
