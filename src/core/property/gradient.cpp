#include "core/property/gradient.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

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
    return fraction(t, p, s);
}
float gradientMix(float f, float lower, float upper) {
    return mix(f, lower, upper);
}

ColorRGBf gradientMixColors(float f, const ColorRGBf& lower, const ColorRGBf& upper) {
    return {mix(f, lower.r, upper.r), mix(f, lower.g, upper.g), mix(f, lower.b, upper.b)};
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
    // float.
    if constexpr (!detail::kDoubleFastPath) {
        const float f = static_cast<float>((static_cast<long double>(t) - p.position) /
                                           (static_cast<long double>(s.position) - p.position));
        const double g = 1.0 - static_cast<double>(f);
        const auto mix = [g, f](float lower, float upper) {
            return static_cast<float>(static_cast<long double>(g) * lower +
                                      static_cast<long double>(f) * upper);
        };
        return {mix(p.color.r, s.color.r), mix(p.color.g, s.color.g), mix(p.color.b, s.color.b)};
    }
    // The same floats through the double-precision paths.
    const float f = detail::fraction(t, p.position, s.position);
    const detail::Mixed r = detail::mixDouble(f, p.color.r, s.color.r);
    const detail::Mixed g = detail::mixDouble(f, p.color.g, s.color.g);
    const detail::Mixed b = detail::mixDouble(f, p.color.b, s.color.b);
    if (r.exact & g.exact & b.exact)
        return {static_cast<float>(r.y), static_cast<float>(g.y), static_cast<float>(b.y)};
    return detail::gradientMixColors(f, p.color, s.color);
}

void Gradientf::rebuildKeys() {
    keys_.resize(stops_.size());
    double key = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < stops_.size(); ++i) {
        if (!std::isnan(stops_[i].position)) key = stops_[i].position;
        keys_[i] = key;
    }
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
