// The camera matrices in software, as the standard OpenGL formulas give them: 4x4 doubles in
// column-major order (element k is row k % 4, column k / 4). Each operation multiplies the
// matrix on the right, as glOrtho, gluLookAt, glScaled, glTranslated and glRotated do, so a
// chain of calls builds the same product as the OpenGL matrix stack.
#pragma once

#include <array>
#include <optional>
#include <ostream>

#include "core/attractor/vec.h"

namespace qm {

struct Mat4 {
    std::array<double, 16> m{};

    static Mat4 identity();
    double& operator[](int k) { return m[static_cast<std::size_t>(k)]; }
    double operator[](int k) const { return m[static_cast<std::size_t>(k)]; }
    double at(int row, int column) const { return m[static_cast<std::size_t>(column * 4 + row)]; }
    friend bool operator==(const Mat4&, const Mat4&) = default;

    // this = this x other
    Mat4& multiply(const Mat4& other);
    Mat4& ortho(double left, double right, double bottom, double top, double nearVal,
                double farVal);
    Mat4& lookAt(const Vecd& eye, const Vecd& center, const Vecd& up);
    Mat4& scale(double x, double y, double z);
    Mat4& translate(double x, double y, double z);
    // Angle in degrees about an axis that need not be unit length; an axis of (almost) zero
    // length leaves the matrix unchanged.
    Mat4& rotate(double degrees, const Vecd& axis);

    // The inverse by cofactors, or none when the determinant is 0.
    std::optional<Mat4> inverse() const;
};

// a x b
Mat4 operator*(const Mat4& a, const Mat4& b);

// The object point under a window point (x, y, depth 0..1), as gluUnProject computes it
// with the model-view matrix, the projection matrix and the viewport (x, y, width, height).
std::optional<Vecd> unproject(const Vecd& window, const Mat4& modelView, const Mat4& projection,
                              const std::array<int, 4>& viewport);
// unproject with the inverse of projection x modelView given: the same operations per point,
// for callers that unproject many points through one camera.
std::optional<Vecd> unprojectWith(const Mat4& inverse, const Vecd& window,
                                  const std::array<int, 4>& viewport);

std::ostream& operator<<(std::ostream& os, const Mat4& m);

}  // namespace qm
