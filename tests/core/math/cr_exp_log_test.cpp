#include "core/math/cr_exp_log.h"

#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/math/cr_exp_log_tables.h"

// Every function against libquadmath rounded to double, on random arguments over the ranges the
// program uses and over all doubles, plus exact and special cases. QM_MATH_TEST_SCALE=N runs N
// times as many random arguments.

namespace qm::crm {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// Equal as bits (NaNs compare equal to each other, +0 and -0 differ).
bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || bitsOf(a) == bitsOf(b);
}

int count(int base) {
    const char* scale = std::getenv("QM_MATH_TEST_SCALE");
    const int n = scale ? std::atoi(scale) : 1;
    return base * (n > 0 ? n : 1);
}

using Function = double (*)(double);
using Reference = __float128 (*)(__float128);
using Draw = std::function<double(std::mt19937_64&)>;

// Draws count(n) arguments and checks f against the reference on each; the first few
// differences are printed with their argument in hexadecimal.
void checkAgainstQuad(const char* name, Function f, Reference ref, const Draw& draw, int n,
                      std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    int differing = 0;
    const int total = count(n);
    for (int k = 0; k < total; ++k) {
        const double x = draw(rng);
        const double expected = static_cast<double>(ref(static_cast<__float128>(x)));
        const double got = f(x);
        if (!same(got, expected)) {
            if (++differing <= 5)
                ADD_FAILURE() << name << "(" << std::hexfloat << x << ") = " << got << ", not "
                              << expected;
        }
    }
    EXPECT_EQ(differing, 0) << name << " over " << total << " arguments, seed " << seed;
}

double uniform(std::mt19937_64& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// A positive finite double with every exponent equally likely, subnormals included.
double anyPositive(std::mt19937_64& rng) {
    for (;;) {
        const double d = fromBits(rng() & 0x7FFFFFFFFFFFFFFFu);
        if (d > 0 && d < kInf) return d;
    }
}

// 1 + or - a value of a random binade down to 2^-60.
double nearOne(std::mt19937_64& rng) {
    const double t = std::ldexp(uniform(rng, 1, 2), -static_cast<int>(rng() % 60) - 1);
    return rng() & 1 ? 1 + t : 1 - t;
}

TEST(CrTables, AreLibquadmathRounded) {
    using namespace detail;
    for (int i = 0; i < kLogTableSize; ++i) {
        const LogEntry& t = kLogTable[i];
        const __float128 l = -logq(static_cast<__float128>(t.invc));
        EXPECT_EQ(t.logcHi, static_cast<double>(l)) << i;
        EXPECT_EQ(t.logcLo, static_cast<double>(l - static_cast<__float128>(t.logcHi))) << i;
        // invc has 9 significant bits, and z invc - 1 stays below 2^-7.7 over the piece.
        std::int64_t e;
        int exponent;
        const double f = std::frexp(t.invc, &exponent);
        e = static_cast<std::int64_t>(std::ldexp(f, 9));
        EXPECT_EQ(std::ldexp(static_cast<double>(e), exponent - 9), t.invc) << i;
        const double from = fromBits(kLogOffset + (std::uint64_t(i) << 45));
        const double to = fromBits(kLogOffset + (std::uint64_t(i + 1) << 45));
        EXPECT_LT(std::fabs(from * t.invc - 1), 0.0048) << i;
        EXPECT_LT(std::fabs(to * t.invc - 1), 0.0048) << i;
    }
    for (int j = 0; j < kExpTableSize; ++j) {
        const __float128 v = exp2q(static_cast<__float128>(j) / kExpTableSize);
        EXPECT_EQ(kExpTable[j].hi, static_cast<double>(v)) << j;
        EXPECT_EQ(kExpTable[j].lo,
                  static_cast<double>(v - static_cast<__float128>(kExpTable[j].hi)))
            << j;
    }
}

TEST(CrExp, MatchesQuadOverItsRange) {
    checkAgainstQuad(
        "exp", exp, expq, [](auto& r) { return uniform(r, -746, 710); }, 400000, 1);
    checkAgainstQuad(
        "exp", exp, expq, [](auto& r) { return uniform(r, -1, 1); }, 200000, 2);
    // Exposure and animation interpolate between logarithms of modest numbers.
    checkAgainstQuad(
        "exp", exp, expq, [](auto& r) { return uniform(r, -40, 40); }, 200000, 3);
    checkAgainstQuad(
        "exp", exp, expq,
        [](auto& r) { return (r() & 1 ? 1 : -1) * std::ldexp(uniform(r, 1, 2), -int(r() % 1080)); },
        100000, 4);
}

TEST(CrExp, SpecialAndBoundaryValues) {
    EXPECT_TRUE(same(exp(0.0), 1.0));
    EXPECT_TRUE(same(exp(-0.0), 1.0));
    EXPECT_TRUE(same(exp(kInf), kInf));
    EXPECT_TRUE(same(exp(-kInf), 0.0));
    EXPECT_TRUE(std::isnan(exp(kNaN)));
    EXPECT_TRUE(same(exp(1.0), 0x1.5bf0a8b145769p+1));
    EXPECT_TRUE(same(exp(0x1p-1074), 1.0));
    EXPECT_TRUE(same(exp(-0x1p-1074), 1.0));
    // Around the largest finite result, the subnormals and the smallest one: where the fast
    // evaluation stops and where the result rounds to 0.
    for (double x : {0x1.62e42fefa39efp+9, 0x1.62e42fefa39fp+9, 709.0, 708.0, -708.0, -708.4,
                     -709.0, -720.5, -744.44, -745.1332191019411, -745.1332191019412, -745.14})
        for (double d : {std::nextafter(x, -kInf), x, std::nextafter(x, kInf)})
            EXPECT_TRUE(same(exp(d), static_cast<double>(expq(d)))) << std::hexfloat << d;
    EXPECT_TRUE(same(exp(1000.0), kInf));
    EXPECT_TRUE(same(exp(-1000.0), 0.0));
}

TEST(CrLog, MatchesQuadOverAllDoubles) {
    checkAgainstQuad("log", log, logq, anyPositive, 400000, 11);
    checkAgainstQuad("log", log, logq, nearOne, 400000, 12);
    // The search's Lyapunov sums take the log of 1e12 times a squared distance ratio.
    checkAgainstQuad(
        "log", log, logq, [](auto& r) { return uniform(r, 1, 1e14); }, 200000, 13);
    checkAgainstQuad("log2", log2, log2q, anyPositive, 200000, 14);
    checkAgainstQuad("log2", log2, log2q, nearOne, 200000, 15);
    checkAgainstQuad(
        "log2", log2, log2q, [](auto& r) { return uniform(r, 0, 1); }, 200000, 16);
    checkAgainstQuad("log10", log10, log10q, anyPositive, 200000, 17);
    checkAgainstQuad("log10", log10, log10q, nearOne, 100000, 18);
}

TEST(CrLog, SpecialAndExactValues) {
    for (Function f : {Function(log), Function(log2), Function(log10)}) {
        EXPECT_TRUE(same(f(1.0), 0.0));
        EXPECT_TRUE(same(f(0.0), -kInf));
        EXPECT_TRUE(same(f(-0.0), -kInf));
        EXPECT_TRUE(same(f(kInf), kInf));
        EXPECT_TRUE(std::isnan(f(-1.0)));
        EXPECT_TRUE(std::isnan(f(-kInf)));
        EXPECT_TRUE(std::isnan(f(kNaN)));
    }
    for (int e = -1074; e <= 1023; ++e) EXPECT_EQ(log2(std::ldexp(1.0, e)), e);
    double p = 1;
    for (int n = 0; n <= 22; ++n, p *= 10) EXPECT_EQ(log10(p), n);
    for (double x : {0x1p-1074, 0x1.8p-1060, 0x1p-1022, std::numeric_limits<double>::max()})
        EXPECT_TRUE(same(log(x), static_cast<double>(logq(x)))) << std::hexfloat << x;
}

double quadPow(double x, double y) {
    return static_cast<double>(powq(static_cast<__float128>(x), static_cast<__float128>(y)));
}

void checkPow(const std::function<void(std::mt19937_64&, double&, double&)>& draw, int n,
              std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    int differing = 0;
    const int total = count(n);
    for (int k = 0; k < total; ++k) {
        double x, y;
        draw(rng, x, y);
        const double expected = quadPow(x, y);
        const double got = pow(x, y);
        if (!same(got, expected) && ++differing <= 5)
            ADD_FAILURE() << std::hexfloat << "pow(" << x << ", " << y << ") = " << got << ", not "
                          << expected;
    }
    EXPECT_EQ(differing, 0) << "over " << total << " arguments, seed " << seed;
}

TEST(CrPow, MatchesQuadOverItsRange) {
    // The developments: a ratio in (0, 1] raised to 1 / gamma and to exponents of a few units.
    checkPow([](auto& r, double& x, double& y) { x = uniform(r, 0, 1), y = uniform(r, 0.05, 8); },
             300000, 21);
    checkPow(
        [](auto& r, double& x, double& y) {
            x = anyPositive(r);
            y = uniform(r, -3, 3);
        },
        300000, 22);
    // Near 1 with large exponents, and results near the ends of the doubles.
    checkPow(
        [](auto& r, double& x, double& y) {
            x = nearOne(r);
            y = std::ldexp(uniform(r, -1, 1), int(r() % 64));
        },
        200000, 23);
    checkPow(
        [](auto& r, double& x, double& y) {
            x = uniform(r, 0.5, 20);
            y = uniform(r, -1100, 1100) / std::log2(x);
        },
        200000, 24);
    // Negative bases with whole exponents.
    checkPow(
        [](auto& r, double& x, double& y) {
            x = -uniform(r, 0, 30);
            y = static_cast<double>(static_cast<int>(r() % 400) - 200);
        },
        100000, 25);
}

// Exact results and midpoints between doubles, which no approximation can round unaided, and
// the correctly rounded operations that some powers must equal.
TEST(CrPow, ExactCasesAndMidpoints) {
    double p = 1;
    for (int n = 0; n <= 22; ++n, p *= 10) EXPECT_EQ(pow(10.0, n), p) << n;
    EXPECT_EQ(pow(10.0, -1.0), 0.1);
    EXPECT_EQ(pow(3.0, 33.0), 5559060566555523.0);
    EXPECT_EQ(pow(3.0, 34.0), 16677181699666569.0);  // odd 54 bits: ties to even
    EXPECT_EQ(pow(-3.0, 3.0), -27.0);
    EXPECT_EQ(pow(2.0, -1074.0), 0x1p-1074);
    EXPECT_TRUE(same(pow(2.0, -1075.0), 0.0));  // the midpoint between 0 and 2^-1074
    EXPECT_TRUE(same(pow(0.5, 1075.0), 0.0));
    EXPECT_EQ(pow(2.0, 1023.0), 0x1p1023);
    EXPECT_EQ(pow(2.0, 1024.0), kInf);
    EXPECT_EQ(pow(4.0, 0.5), 2.0);
    EXPECT_EQ(pow(0x1p-1074, 0.5), 0x1p-537);
    EXPECT_EQ(pow(16.0, 0.25), 2.0);
    // (2^27 - 1)^2 and a^3 for an 18-bit a have 54 significant bits and are odd: exact midpoints.
    const double m = 134217727.0;
    EXPECT_EQ(pow(m, 2.0), m * m);
    const double a = 262143.0;
    EXPECT_EQ(pow(a * a, 1.5), a * a * a);
    EXPECT_EQ(pow(std::ldexp(m, -27), 2.0), std::ldexp(m, -27) * std::ldexp(m, -27));

    // x^2, x^-1 and x^0.5 are x * x, 1 / x and sqrt(x), which IEEE arithmetic rounds correctly.
    std::mt19937_64 rng(31);
    int differing = 0;
    for (int k = 0; k < count(200000); ++k) {
        const double x = std::ldexp(uniform(rng, 1, 2), static_cast<int>(rng() % 1000) - 500);
        differing += !same(pow(x, 2.0), x * x);
        differing += !same(pow(x, -1.0), 1 / x);
        differing += !same(pow(x, 0.5), std::sqrt(x));
        differing += !same(pow(x, 1.0), x);
        differing += !same(pow(-x, 3.0), -quadPow(x, 3.0));
    }
    EXPECT_EQ(differing, 0);
}

TEST(CrPow, SpecialValues) {
    struct Case {
        double x, y, expected;
    };
    const Case cases[] = {
        {kNaN, 0.0, 1.0},    {1.0, kNaN, 1.0},      {-1.0, kInf, 1.0},     {-1.0, -kInf, 1.0},
        {0.5, kInf, 0.0},    {0.5, -kInf, kInf},    {2.0, kInf, kInf},     {-2.0, -kInf, 0.0},
        {0.0, -3.0, kInf},   {-0.0, -3.0, -kInf},   {-0.0, -2.0, kInf},    {-0.0, -0.5, kInf},
        {0.0, -kInf, kInf},  {-0.0, 3.0, -0.0},     {-0.0, 2.0, 0.0},      {-0.0, 0.5, 0.0},
        {-kInf, -3.0, -0.0}, {-kInf, -2.0, 0.0},    {-kInf, 3.0, -kInf},   {-kInf, 2.5, kInf},
        {kInf, -1.0, 0.0},   {kInf, 0.5, kInf},     {-8.0, 1e300, kInf},   {0.9, 1e300, 0.0},
        {-0.9, 0x1p53, 0.0}, {-2.0, -1075.0, -0.0}, {-2.0, 1025.0, -kInf}, {10.0, 400.0, kInf},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(same(pow(c.x, c.y), c.expected)) << c.x << "^" << c.y << " = " << pow(c.x, c.y);
    EXPECT_TRUE(std::isnan(pow(-8.0, 1.0 / 3)));
    EXPECT_TRUE(std::isnan(pow(kNaN, 1.0)));
    EXPECT_TRUE(std::isnan(pow(2.0, kNaN)));
    // Subnormal bases.
    EXPECT_EQ(pow(0x1p-1074, 0.25), quadPow(0x1p-1074, 0.25));
    EXPECT_EQ(pow(0x1.8p-1070, -0.1), quadPow(0x1.8p-1070, -0.1));
}

// float(pow(x, y)) for float operands, as the developments raise a ratio to 1 / gamma, through
// the estimate and through the double; the estimate's margin against the exact power.
TEST(CrPowFloat, IsTheDoublesFloatAndItsMarginHolds) {
    std::mt19937_64 rng(41);
    int differing = 0, outside = 0;
    double worst = 0;
    for (int k = 0; k < count(1000000); ++k) {
        const auto x = static_cast<float>(k % 4 == 0 ? anyPositive(rng) : uniform(rng, 0, 1));
        const auto y =
            static_cast<float>(k % 3 == 0 ? uniform(rng, -20, 20) : uniform(rng, 0.1, 3));
        differing += !same(powFloat(x, y), static_cast<float>(pow(x, y)));
        double v;
        std::int64_t margin;
        if (detail::powFloatEstimate(x, y, v, margin)) {
            const __float128 exact = powq(static_cast<__float128>(x), static_cast<__float128>(y));
            const double ulp = std::nextafter(v, kInf) - v;
            const auto units = static_cast<double>(fabsq(static_cast<__float128>(v) - exact) / ulp);
            worst = std::max(worst, units / static_cast<double>(margin));
            outside += units + 0.5 > static_cast<double>(margin);
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(outside, 0);
    // The margin is a bound, not a guess: the estimate never comes close to it.
    EXPECT_LT(worst, 0.5);
    for (float x : {0.0f, -0.0f, -1.0f, 1.0f, std::numeric_limits<float>::denorm_min(),
                    std::numeric_limits<float>::infinity()})
        for (float y : {0.0f, 0.5f, -0.5f, 3.0f, 0.125f})
            EXPECT_TRUE(same(powFloat(x, y), static_cast<float>(pow(x, y)))) << x << "^" << y;
    // A float midpoint reached exactly: (1 + 2^-24)^2 has a square root halfway between floats.
    const double onePlus = 1 + 0x1p-24;
    EXPECT_EQ(powFloat(onePlus * onePlus, 0.5), 1.0f);
}

// Arguments at which glibc 2.36's FMA and SSE2 variants round differently (found by running
// both): the correct rounding is one of them, and the same whichever variant the machine uses.
struct VariantCase {
    const char* name;
    double x, y;  // y for pow only
    double fma, baseline;
};
const VariantCase kVariantCases[] = {
    {"exp", -0x1.31dd28750386p-3, 0, 0x1.b8f856e6e9261p-1, 0x1.b8f856e6e9262p-1},
    {"log", 0x1.aea88cdde484bp-1, 0, -0x1.6252c40fafb2ep-3, -0x1.6252c40fafb2dp-3},
    {"pow", 0x1.fd8eb87476e6p+1, 0x1.7f846a133156cp+1, 0x1.f615a240b5e4fp+5, 0x1.f615a240b5e5p+5},
};

double libc(const VariantCase& c) {
    const std::string name = c.name;
    volatile double x = c.x, y = c.y;
    return name == "exp" ? std::exp(x) : name == "log" ? std::log(x) : std::pow(x, y);
}

double ours(const VariantCase& c) {
    const std::string name = c.name;
    return name == "exp" ? exp(c.x) : name == "log" ? log(c.x) : pow(c.x, c.y);
}

TEST(CrGlibcVariants, WhereTheyDisagreeTheResultIsTheCorrectRounding) {
    for (const VariantCase& c : kVariantCases) {
        const double exact = static_cast<double>(std::string(c.name) == "exp"   ? expq(c.x)
                                                 : std::string(c.name) == "log" ? logq(c.x)
                                                                                : powq(c.x, c.y));
        EXPECT_TRUE(same(ours(c), exact)) << c.name << std::hexfloat << "(" << c.x << ")";
        EXPECT_TRUE(exact == c.fma || exact == c.baseline) << c.name;
    }
}

// Run only in the CTest entry that disables glibc's FMA and AVX2 variants: proves the setting
// took effect there, so that the tests it runs truly ran beside the other variant.
TEST(CrGlibcVariants, BaselineSelectedWhenAsked) {
    if (!std::getenv("QM_EXPECT_GLIBC_BASELINE")) GTEST_SKIP() << "not in the baseline run";
    for (const VariantCase& c : kVariantCases) {
        const double v = libc(c);
        EXPECT_TRUE(v == c.baseline || v == c.fma) << "not glibc 2.36's " << c.name;
        EXPECT_EQ(v, c.baseline) << "the FMA variant of " << c.name << " is still in use";
    }
}

}  // namespace
}  // namespace qm::crm
