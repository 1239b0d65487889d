// Gradientf: a colour ramp over the unit interval, made of colour stops and sampled by linear
// interpolation. The Light and Plasma render modes colour points with it.
#pragma once

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
    // Inside, the pair of stops around t is found by binary search.
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
    std::size_t firstAtOrAbove(double t) const;
    void rebuildKeys();

    std::vector<ColorEntry<float>> stops_;
    // The search keys, one per stop: its position, or for a NaN position the key of the stop
    // before it (NaN for leading NaN stops). Numeric positions are non-decreasing whichever way
    // the stops came (AddStop skips NaN stops as it walks), so "key >= t" is false on a prefix
    // of the keys and true after it, and the first key >= t belongs to the first stop whose
    // position is >= t: exactly the stop a walk from the first stop would find.
    std::vector<double> keys_;
};

namespace detail {

// The two steps of ColorAt between stops P (at p) and S (at s), exposed for the tests that hold
// the fast paths to the extended-precision ones. fraction: float((t - p) / (s - p)); mix:
// float(g * lower + f * upper) with g = 1 - f in double. The plain forms take a double-precision
// path where it is proven to give the same float, and the extended forms otherwise.
float gradientFraction(double t, double p, double s);
float gradientMix(float f, float lower, float upper);
[[gnu::noinline]] float gradientFractionExtended(double t, double p, double s);
[[gnu::noinline]] float gradientMixExtended(float f, float lower, float upper);

}  // namespace detail

std::ostream& operator<<(std::ostream& os, const Gradientf& gradient);

// 24-bit display colour of c: red in bits 0-7, green in bits 8-15, blue in bits 16-23.
// Each component is clamped to [0, 1] (NaN to 0) and becomes trunc(float(255 * c)), so only
// a component of exactly 1 or more reaches 255.
std::uint32_t displayColor(ColorRGBf c);

}  // namespace qm
