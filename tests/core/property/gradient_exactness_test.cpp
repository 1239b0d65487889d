// The binary search and the double-precision paths of Gradientf::ColorAt against the linear walk
// and the extended-precision arithmetic they replace, bit for bit. QM_GRADIENT_CASES sets the
// number of random cases per family (default 1,000,000; a few seconds in all).
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <list>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/property/gradient.h"
#include "core/simd_lanes.h"

namespace qm {
namespace {

using detail::gradientFraction;
using detail::gradientFractionExtended;
using detail::gradientMix;
using detail::gradientMixExtended;
using detail::gradientMixThree;

// The built-in speed ramp's stops.
void setBuiltinStops(Gradientf& g) {
    const float ramp[7][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1},
                              {0, 0, 1}, {1, 0, 1}, {1, 0, 0}};
    const double at[7] = {0.0, 0.166, 0.333, 0.5, 0.666, 0.833, 1.0};
    for (int k = 0; k < 7; ++k) g.AddStop(at[k], {ramp[k][0], ramp[k][1], ramp[k][2]});
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::int64_t casesPerFamily() {
    if (const char* text = std::getenv("QM_GRADIENT_CASES")) {
        const long long n = std::atoll(text);
        if (n > 0) return n;
    }
    return 1'000'000;
}

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}
bool sameBits(const ColorRGBf& a, const ColorRGBf& b) {
    return sameBits(a.r, b.r) && sameBits(a.g, b.g) && sameBits(a.b, b.b);
}

// The gradient as it was: a list walked from its first stop, every step in extended precision.
class WalkedGradient {
public:
    void AddStop(double position, ColorRGBf color) {
        auto it = stops_.begin();
        while (it != stops_.end() && !(it->position >= position)) ++it;
        stops_.insert(it, {position, color});
    }

    ColorRGBf ColorAt(double t) const {
        if (stops_.empty()) return {0.0f, 0.0f, 0.0f};
        if (stops_.size() == 1 || !(t > 0.0)) return stops_.front().color;
        if (t >= 1.0) return stops_.back().color;
        auto next = stops_.begin();
        while (next != stops_.end() && !(next->position >= t)) ++next;
        if (next == stops_.begin()) return next->color;
        if (next == stops_.end()) return stops_.back().color;
        const ColorEntry<float>& s = *next;
        const ColorEntry<float>& p = *std::prev(next);
        const float f = static_cast<float>((static_cast<long double>(t) - p.position) /
                                           (static_cast<long double>(s.position) - p.position));
        const double g = 1.0 - static_cast<double>(f);
        const auto mix = [g, f](float lower, float upper) {
            return static_cast<float>(static_cast<long double>(g) * lower +
                                      static_cast<long double>(f) * upper);
        };
        return {mix(p.color.r, s.color.r), mix(p.color.g, s.color.g), mix(p.color.b, s.color.b)};
    }

    // Takes the stops in the order given.
    void assign(const std::vector<ColorEntry<float>>& stops) {
        stops_.assign(stops.begin(), stops.end());
    }
    const std::list<ColorEntry<float>>& stops() const { return stops_; }

private:
    std::list<ColorEntry<float>> stops_;
};

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(engine_);
    }
    std::int64_t integer(std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(engine_);
    }
    bool chance(double p) { return uniform(0, 1) < p; }
    std::uint64_t bits() { return engine_(); }
    // Any double or float, NaN, infinities and subnormals included.
    double anyDouble() { return std::bit_cast<double>(bits()); }
    float anyFloat() { return std::bit_cast<float>(static_cast<std::uint32_t>(bits())); }
    float unitFloat() { return static_cast<float>(integer(0, 255)) / 255.0f; }

private:
    std::mt19937_64 engine_;
};

// A position for a random gradient: mostly on a coarse grid (so that duplicates are common),
// sometimes anywhere in or around [0, 1], sometimes special.
double randomPosition(Random& rng) {
    switch (rng.integer(0, 9)) {
        case 0:
            return kNaN;
        case 1:
            return rng.chance(0.5) ? 0.0 : 1.0;
        case 2:
            return rng.uniform(-0.5, 1.5);
        case 3: {
            const double specials[] = {-0.0, kInf, -kInf, 0x1p-1074, std::nextafter(1.0, 0.0)};
            return specials[rng.integer(0, 4)];
        }
        default:
            return static_cast<double>(rng.integer(0, 16)) / 16.0;
    }
}

// Sample points for a gradient: its stops, their neighbouring doubles, points between, and
// random ones.
std::vector<double> samplePoints(const WalkedGradient& g, Random& rng) {
    std::vector<double> ts = {0.0, -0.0, 1.0, kNaN, -1.0, 2.0, 0x1p-1074, std::nextafter(1.0, 0.0)};
    for (const auto& s : g.stops()) {
        ts.push_back(s.position);
        ts.push_back(std::nextafter(s.position, -kInf));
        ts.push_back(std::nextafter(s.position, kInf));
    }
    for (int i = 0; i < 40; ++i) ts.push_back(rng.uniform(-0.1, 1.1));
    return ts;
}

TEST(GradientfSearch, FindsTheSameStopsAsTheLinearWalk) {
    Random rng(17);
    const std::int64_t gradients = std::max<std::int64_t>(casesPerFamily() / 100, 2000);
    for (std::int64_t n = 0; n < gradients; ++n) {
        Gradientf g;
        WalkedGradient walked;
        const std::int64_t count = rng.integer(0, 24);
        for (std::int64_t i = 0; i < count; ++i) {
            const double position = randomPosition(rng);
            const ColorRGBf color{rng.unitFloat(), rng.unitFloat(), rng.unitFloat()};
            g.AddStop(position, color);
            walked.AddStop(position, color);
        }
        ASSERT_EQ(g.count(), walked.stops().size());
        ASSERT_TRUE(std::equal(g.stops().begin(), g.stops().end(), walked.stops().begin(),
                               [](const auto& a, const auto& b) {
                                   return std::bit_cast<std::uint64_t>(a.position) ==
                                              std::bit_cast<std::uint64_t>(b.position) &&
                                          sameBits(a.color, b.color);
                               }))
            << "gradient " << n;
        for (double t : samplePoints(walked, rng)) {
            ASSERT_TRUE(sameBits(g.ColorAt(t), walked.ColorAt(t)))
                << "gradient " << n << " " << g << " at " << t << ": " << g.ColorAt(t)
                << " instead of " << walked.ColorAt(t);
        }
        // Simplify and copies keep the search consistent with the stops.
        Gradientf copy = g;
        copy.Simplify();
        WalkedGradient rebuilt;
        rebuilt.assign(copy.stops());
        for (double t : samplePoints(rebuilt, rng))
            ASSERT_TRUE(sameBits(copy.ColorAt(t), rebuilt.ColorAt(t))) << copy << " at " << t;
    }
}

TEST(GradientfSearch, ALongMapSamplesAsTheWalkDoes) {
    Random rng(100000);
    Gradientf g;
    WalkedGradient walked;
    for (int k = 0; k < 100000; ++k)
        g.AddStop(k / 99999.0, {rng.unitFloat(), rng.unitFloat(), rng.unitFloat()});
    walked.assign(g.stops());
    for (int i = 0; i < 500; ++i) {
        const double t = rng.uniform(0, 1);
        ASSERT_TRUE(sameBits(g.ColorAt(t), walked.ColorAt(t))) << t;
    }
}

// The fraction f = float((t - p) / (s - p)).
TEST(GradientfFastPath, FractionMatchesTheExtendedPath) {
    Random rng(3);
    const std::int64_t n = casesPerFamily();
    std::int64_t fast = 0;
    const auto check = [&](double t, double p, double s) {
        const float a = gradientFraction(t, p, s);
        const float b = gradientFractionExtended(t, p, s);
        if (!sameBits(a, b)) {
            ADD_FAILURE() << std::hexfloat << "t " << t << " p " << p << " s " << s << ": " << a
                          << " instead of " << b;
            return false;
        }
        const double y = (t - p) / (s - p);
        fast += sameBits(a, static_cast<float>(y));
        return true;
    };
    for (std::int64_t i = 0; i < n; ++i) {
        // Stops around [0, 1] and t between them.
        double p = rng.uniform(-0.2, 1.0), s = rng.uniform(p, 1.2);
        if (!check(rng.uniform(p, s), p, s)) return;
        // t aimed within a few double units of a float midpoint of the fraction.
        const float lowerFloat = static_cast<float>(rng.uniform(0x1p-20, 1.0));
        const double midpoint =
            (static_cast<double>(lowerFloat) + std::nextafter(lowerFloat, 2.0f)) / 2;
        const double aimed = midpoint + rng.uniform(-12, 12) * 0x1p-52 * midpoint;
        if (!check(p + aimed * (s - p), p, s)) return;
        // Stops differing in their last bits, and t among them.
        const double base = rng.uniform(0, 1);
        const double near = base + static_cast<double>(rng.integer(1, 1 << 26)) * 0x1p-52 * base;
        if (!check(base + (near - base) * rng.uniform(0, 1), base, near)) return;
        // Tiny and subnormal differences, huge and small ranges.
        if (!check(std::bit_cast<double>(rng.bits() >> 13), 0.0,
                   std::bit_cast<double>(rng.bits() >> rng.integer(1, 13))))
            return;
        if (!check(rng.uniform(0, 1), -std::ldexp(1.0, static_cast<int>(rng.integer(0, 1023))),
                   std::ldexp(rng.uniform(0.5, 1), static_cast<int>(rng.integer(0, 1023)))))
            return;
        // Anything at all.
        if (!check(rng.anyDouble(), rng.anyDouble(), rng.anyDouble())) return;
    }
    // The fast path does the work, or the comparison proves nothing about it.
    EXPECT_GT(fast, 3 * n);
}

// One component: float((1 - f) * lower + f * upper).
TEST(GradientfFastPath, MixMatchesTheExtendedPath) {
    Random rng(4);
    const std::int64_t n = casesPerFamily();
    // The single mix, and the case in each lane of ColorAt's three-component mix beside
    // colour-map components.
    int lane = 0;
    const auto check = [&](float f, float lower, float upper) {
        const float a = gradientMix(f, lower, upper);
        const float b = gradientMixExtended(f, lower, upper);
        ColorRGBf lowers{rng.unitFloat(), rng.unitFloat(), rng.unitFloat()};
        ColorRGBf uppers{rng.unitFloat(), rng.unitFloat(), rng.unitFloat()};
        lane = (lane + 1) % 3;
        float* const lowerLane[3] = {&lowers.r, &lowers.g, &lowers.b};
        float* const upperLane[3] = {&uppers.r, &uppers.g, &uppers.b};
        *lowerLane[lane] = lower;
        *upperLane[lane] = upper;
        const ColorRGBf three = gradientMixThree(f, lowers, uppers);
        const ColorRGBf extended{gradientMixExtended(f, lowers.r, uppers.r),
                                 gradientMixExtended(f, lowers.g, uppers.g),
                                 gradientMixExtended(f, lowers.b, uppers.b)};
        if (sameBits(a, b) && sameBits(three, extended)) return true;
        ADD_FAILURE() << std::hexfloat << "f " << f << " lower " << lower << " upper " << upper
                      << ": " << a << " instead of " << b << "; lane " << lane << " of " << lowers
                      << " to " << uppers << ": " << three << " instead of " << extended;
        return false;
    };
    for (std::int64_t i = 0; i < n; ++i) {
        // Colour-map colours at any fraction.
        const auto f = static_cast<float>(rng.uniform(0, 1));
        if (!check(f, rng.unitFloat(), rng.unitFloat())) return;
        if (!check(rng.chance(0.5) ? 0.0f : 1.0f, rng.unitFloat(), rng.unitFloat())) return;
        // Sums that land within a few double units of a float midpoint, with low bits that the
        // double sum rounds away. With g = k 2^-24 (k odd) and upper = (1 + j 2^-23) 2^e (j >= k),
        // f * upper = upper - (k / 2) ulp(upper) - 32 k j units: near a midpoint; lower is
        // chosen so that g * lower covers the rest and a random part of a unit.
        {
            const std::int64_t k = 2 * rng.integer(0, 31) + 1;
            const std::int64_t j = rng.integer(k, 4096 / k);
            const float fk = 1.0f - static_cast<float>(k) * 0x1p-24f;
            const int e = static_cast<int>(rng.integer(-125, 120));
            const float upper = std::ldexp(1.0f + static_cast<float>(j) * 0x1p-23f, e);
            const double b = static_cast<double>(fk) * upper;
            const double midpoint = upper - static_cast<double>(k) * std::ldexp(1.0, e - 24);
            const double unit = std::ldexp(1.0, e - 52);
            const double a = midpoint - b + rng.uniform(-12, 12) * unit;
            const auto lower = static_cast<float>(a / (static_cast<double>(k) * 0x1p-24));
            const float sign = rng.chance(0.5) ? 1.0f : -1.0f;
            if (!check(fk, sign * lower, sign * upper)) return;
            if (!check(fk, -lower, upper)) return;
        }
        // Subnormal and huge colours, opposite signs, and anything at all.
        if (!check(f, std::bit_cast<float>(static_cast<std::uint32_t>(rng.bits() >> 41)),
                   rng.anyFloat()))
            return;
        if (!check(f, std::ldexp(rng.unitFloat(), 127), -std::ldexp(rng.unitFloat(), 127))) return;
        if (!check(rng.anyFloat(), rng.anyFloat(), rng.anyFloat())) return;
    }
}

// A colour for a random gradient: mostly colour-map bytes and the 0 and 1 of the built-in
// ramps, sometimes anything (negative, subnormal, huge, infinite, NaN).
float randomComponent(Random& rng) {
    switch (rng.integer(0, 9)) {
        case 0:
            return rng.anyFloat();
        case 1:
            return -rng.unitFloat();
        case 2:
            return std::bit_cast<float>(static_cast<std::uint32_t>(rng.bits() >> 41));
        case 3:
        case 4:
            return rng.chance(0.5) ? 0.0f : 1.0f;
        default:
            return rng.unitFloat();
    }
}

// Bit for bit, except that a NaN sum may be either NaN operand (the compiler may swap the
// operands of an addition).
bool sameSum(const ColorRGBf& a, const ColorRGBf& b) {
    const auto same = [](float x, float y) { return sameBits(x, y) || (x != x && y != y); };
    return same(a.r, b.r) && same(a.g, b.g) && same(a.b, b.b);
}

// sumOfColorsAt against the sum of two ColorAt calls, bit for bit. Every lane of its fast path
// is checked where the fast path answers, and it must answer for most cases; so is every lane
// of the AVX2 path for two points, the case and the case with its gradients swapped.
TEST(GradientfPairs, SumOfColorsAtAddsWhatColorAtGives) {
    Random rng(21);
    std::int64_t cases = 0, fast = 0, wide = 0;
    const bool avx2 = detail::avx2Lanes();
    const auto check = [&](const Gradientf& a, double t1, const Gradientf& b, double t2) {
        const ColorRGBf x = a.ColorAt(t1), y = b.ColorAt(t2);
        const ColorRGBf expected{x.r + y.r, x.g + y.g, x.b + y.b};
        ColorRGBf quick;
        ++cases;
        const bool answered = detail::sumOfColorsFast(a, t1, b, t2, quick);
        fast += answered;
        const ColorRGBf sum = sumOfColorsAt(a, t1, b, t2);
        bool wideAnswered[2] = {false, false};
        ColorRGBf wideSums[4];
        if (avx2) {
            const detail::GradientSegment* first[2] = {&a.segmentAt(t1), &b.segmentAt(t2)};
            const detail::GradientSegment* second[2] = {first[1], first[0]};
            const double at1[2] = {t1, t2}, at2[2] = {t2, t1};
            detail::sumsOfSegmentColoursAvx2(first, at1, second, at2, 2, wideSums, wideAnswered);
            wide += wideAnswered[0];
        }
        if ((!answered || sameSum(quick, expected)) && sameSum(sum, expected) &&
            (!wideAnswered[0] || sameSum(wideSums[0], expected)) &&
            (!wideAnswered[1] || sameSum(wideSums[1], expected)))
            return true;
        ADD_FAILURE() << std::hexfloat << a << " at " << t1 << " and " << b << " at " << t2
                      << ": fast " << answered << " " << quick << ", AVX2 " << wideAnswered[0]
                      << " " << wideSums[0] << " and " << wideAnswered[1] << " " << wideSums[1]
                      << ", sum " << sum << " instead of " << expected;
        return false;
    };
    // Random gradients, at their stops, around them and anywhere, each gradient in both places.
    const std::int64_t gradients = std::max<std::int64_t>(casesPerFamily() / 200, 1000);
    for (std::int64_t n = 0; n < gradients; ++n) {
        Gradientf g[2];
        WalkedGradient walked[2];
        for (int k = 0; k < 2; ++k) {
            const std::int64_t count = rng.integer(0, 12);
            for (std::int64_t i = 0; i < count; ++i) {
                const double position = rng.chance(0.8)
                                            ? static_cast<double>(rng.integer(0, 16)) / 16
                                            : randomPosition(rng);
                const ColorRGBf color{randomComponent(rng), randomComponent(rng),
                                      randomComponent(rng)};
                g[k].AddStop(position, color);
                walked[k].AddStop(position, color);
            }
        }
        const std::vector<double> ts[2] = {samplePoints(walked[0], rng),
                                           samplePoints(walked[1], rng)};
        for (double t : ts[0]) {
            const double other = ts[1][static_cast<std::size_t>(
                rng.integer(0, static_cast<std::int64_t>(ts[1].size()) - 1))];
            if (!check(g[0], t, g[1], other) || !check(g[1], other, g[0], t)) return;
        }
    }
    // Mixes that land near a float midpoint (as in MixMatchesTheExtendedPath), in any lane of
    // either gradient: stops at 0 and 1, so that f is t itself.
    for (std::int64_t i = 0; i < casesPerFamily() / 4; ++i) {
        const std::int64_t k = 2 * rng.integer(0, 31) + 1;
        const std::int64_t j = rng.integer(k, 4096 / k);
        const float fk = 1.0f - static_cast<float>(k) * 0x1p-24f;
        const int e = static_cast<int>(rng.integer(-125, 120));
        const float upper = std::ldexp(1.0f + static_cast<float>(j) * 0x1p-23f, e);
        const double b = static_cast<double>(fk) * upper;
        const double midpoint = upper - static_cast<double>(k) * std::ldexp(1.0, e - 24);
        const double a = midpoint - b + rng.uniform(-12, 12) * std::ldexp(1.0, e - 52);
        const auto lower = static_cast<float>(a / (static_cast<double>(k) * 0x1p-24));
        ColorRGBf lowers{rng.unitFloat(), rng.unitFloat(), rng.unitFloat()};
        ColorRGBf uppers{rng.unitFloat(), rng.unitFloat(), rng.unitFloat()};
        const int lane = static_cast<int>(rng.integer(0, 2));
        (&lowers.r)[lane] = lower;
        (&uppers.r)[lane] = upper;
        Gradientf aimed, plain;
        aimed.AddStop(0.0, lowers);
        aimed.AddStop(1.0, uppers);
        setBuiltinStops(plain);
        const double t = rng.uniform(0, 1);
        if (!check(aimed, fk, plain, t) || !check(plain, t, aimed, fk)) return;
        // Fractions that land near a float midpoint.
        const double p = rng.uniform(-0.2, 0.5), s = rng.uniform(p, 1.2);
        const float lowerFloat = static_cast<float>(rng.uniform(0x1p-20, 1.0));
        const double fraction =
            (static_cast<double>(lowerFloat) + std::nextafter(lowerFloat, 2.0f)) / 2 +
            rng.uniform(-12, 12) * 0x1p-53;
        Gradientf spanned;
        spanned.AddStop(p, lowers);
        spanned.AddStop(s, uppers);
        if (!check(spanned, p + fraction * (s - p), plain, t)) return;
    }
    EXPECT_GT(fast, cases / 4);
    if (avx2) {
        EXPECT_EQ(wide, fast);
    }
    // On the gradients of a render the fast path answers all but a few cases.
    Gradientf speed, angle;
    setBuiltinStops(speed);
    angle.AddStop(0.0, {0.0f, 0.0f, 0.0f});
    angle.AddStop(1.0, {0.5f, 0.5f, 0.5f});
    cases = fast = wide = 0;
    for (std::int64_t i = 0; i < casesPerFamily(); ++i)
        if (!check(speed, rng.uniform(-0.1, 1.1), angle, rng.uniform(-0.1, 1.1))) return;
    EXPECT_GT(fast, cases - cases / 1000);
    if (avx2) {
        EXPECT_EQ(wide, fast);
    }
}

}  // namespace
}  // namespace qm
