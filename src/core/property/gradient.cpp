#include "core/property/gradient.h"

#include <cmath>
#include <iterator>

namespace qm {

void Gradientf::AddStop(double position, ColorRGBf color) {
    // The numeric positions of a gradient stay sorted (NaN stops compare with nothing and are
    // walked past), so a last stop below the new position means no stop is >= it: append
    // without walking. A long colour map, whose positions only grow, then costs no walk per stop.
    if (!stops_.empty() && stops_.back().position < position) {
        stops_.push_back({position, color});
        return;
    }
    // !(>=) rather than <, so that a NaN position finds no stop and goes to the end.
    auto it = stops_.begin();
    while (it != stops_.end() && !(it->position >= position)) ++it;
    stops_.insert(it, {position, color});
}

ColorRGBf Gradientf::ColorAt(double t) const {
    if (stops_.empty()) return {0.0f, 0.0f, 0.0f};
    // !(t > 0) rather than t <= 0, so that NaN also takes the first colour.
    if (stops_.size() == 1 || !(t > 0.0)) return stops_.front().color;
    if (t >= 1.0) return stops_.back().color;

    auto next = stops_.begin();
    while (next != stops_.end() && !(next->position >= t)) ++next;
    // Without end stops at exactly 0 and 1 one neighbour may be missing: take the nearest end.
    if (next == stops_.begin()) return next->color;
    if (next == stops_.end()) return stops_.back().color;
    const ColorEntry<float>& s = *next;
    const ColorEntry<float>& p = *std::prev(next);

    // The fraction is formed in extended precision and rounded to float before use; the weight
    // of the lower stop is 1 - f from that rounded f, in double (exact for most f, and a single
    // rounding otherwise).
    const float f = static_cast<float>((static_cast<long double>(t) - p.position) /
                                       (static_cast<long double>(s.position) - p.position));
    const double g = 1.0 - static_cast<double>(f);
    // Each component is mixed in extended precision and rounded once to float.
    const auto mix = [g, f](float lower, float upper) {
        return static_cast<float>(static_cast<long double>(g) * lower +
                                  static_cast<long double>(f) * upper);
    };
    return {mix(p.color.r, s.color.r), mix(p.color.g, s.color.g), mix(p.color.b, s.color.b)};
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
    bool removedAny = true;
    while (removedAny) {
        removedAny = false;
        auto a = stops_.begin();
        for (;;) {
            const auto b = std::next(a);
            if (b == stops_.end()) break;
            const auto c = std::next(b);
            if (c == stops_.end()) break;
            if (isRedundant(*a, *b, *c)) {
                stops_.erase(b);
                removedAny = true;
                // The pass resumes at C: the triple (A, C, D) waits for the next pass.
                a = c;
            } else {
                a = b;
            }
        }
    }
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
