// Vecd: a point or direction in attractor space, three doubles.
#pragma once

#include <cmath>
#include <ostream>

namespace qm {

struct Vecd {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    friend bool operator==(const Vecd&, const Vecd&) = default;
};

inline Vecd operator+(const Vecd& a, const Vecd& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vecd operator-(const Vecd& a, const Vecd& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vecd operator*(const Vecd& a, double f) { return {a.x * f, a.y * f, a.z * f}; }
// Dot product, summed x, y, z in that order.
inline double dot(const Vecd& a, const Vecd& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline std::ostream& operator<<(std::ostream& os, const Vecd& v) {
    const auto precision = os.precision(17);
    os << '(' << v.x << ", " << v.y << ", " << v.z << ')';
    os.precision(precision);
    return os;
}

}  // namespace qm
