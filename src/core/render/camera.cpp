#include "core/render/camera.h"

#include <cmath>

#include "core/math/cr_trig.h"

namespace qm {

Mat4 Mat4::identity() {
    Mat4 r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0;
    return r;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 p;
    // Each element sums its four products from left to right, as the OpenGL reference does.
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            p[j * 4 + i] = a[0 * 4 + i] * b[j * 4 + 0] + a[1 * 4 + i] * b[j * 4 + 1] +
                           a[2 * 4 + i] * b[j * 4 + 2] + a[3 * 4 + i] * b[j * 4 + 3];
        }
    }
    return p;
}

Mat4& Mat4::multiply(const Mat4& other) {
    *this = *this * other;
    return *this;
}

Mat4& Mat4::ortho(double left, double right, double bottom, double top, double nearVal,
                  double farVal) {
    Mat4 o = identity();
    o[0] = 2.0 / (right - left);
    o[5] = 2.0 / (top - bottom);
    o[10] = -2.0 / (farVal - nearVal);
    o[12] = -(right + left) / (right - left);
    o[13] = -(top + bottom) / (top - bottom);
    o[14] = -(farVal + nearVal) / (farVal - nearVal);
    return multiply(o);
}

namespace {

Vecd cross(const Vecd& a, const Vecd& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vecd normalized(const Vecd& v) {
    const double r = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (r == 0.0) return v;
    return {v.x / r, v.y / r, v.z / r};
}

}  // namespace

Mat4& Mat4::lookAt(const Vecd& eye, const Vecd& center, const Vecd& up) {
    const Vecd forward = normalized(center - eye);
    const Vecd side = normalized(cross(forward, up));
    const Vecd u = cross(side, forward);
    Mat4 l = identity();
    l[0] = side.x;
    l[4] = side.y;
    l[8] = side.z;
    l[1] = u.x;
    l[5] = u.y;
    l[9] = u.z;
    l[2] = -forward.x;
    l[6] = -forward.y;
    l[10] = -forward.z;
    multiply(l);
    return translate(-eye.x, -eye.y, -eye.z);
}

Mat4& Mat4::scale(double x, double y, double z) {
    Mat4 s = identity();
    s[0] = x;
    s[5] = y;
    s[10] = z;
    return multiply(s);
}

Mat4& Mat4::translate(double x, double y, double z) {
    Mat4 t = identity();
    t[12] = x;
    t[13] = y;
    t[14] = z;
    return multiply(t);
}

Mat4& Mat4::rotate(double degrees, const Vecd& axis) {
    const double length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    if (length <= 1.0e-4) return *this;  // no axis: no rotation
    const double x = axis.x / length, y = axis.y / length, z = axis.z / length;
    const double radians = degrees * 3.141592653589793 / 180.0;
    const auto [s, c] = crm::sincos(radians);
    const double t = 1.0 - c;
    Mat4 r = identity();
    r[0] = x * x * t + c;
    r[4] = x * y * t - z * s;
    r[8] = x * z * t + y * s;
    r[1] = y * x * t + z * s;
    r[5] = y * y * t + c;
    r[9] = y * z * t - x * s;
    r[2] = x * z * t - y * s;
    r[6] = y * z * t + x * s;
    r[10] = z * z * t + c;
    return multiply(r);
}

std::optional<Mat4> Mat4::inverse() const {
    const auto& a = m;
    Mat4 inv;
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] +
             a[9] * a[7] * a[14] + a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] -
             a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] +
             a[8] * a[7] * a[13] + a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] -
              a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] -
             a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] +
             a[8] * a[3] * a[14] + a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] -
             a[8] * a[3] * a[13] - a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] +
              a[8] * a[2] * a[13] + a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] -
             a[4] * a[3] * a[14] - a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] +
              a[4] * a[3] * a[13] + a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] -
              a[4] * a[2] * a[13] - a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] -
             a[5] * a[3] * a[10] - a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (det == 0) return std::nullopt;
    det = 1.0 / det;
    for (double& v : inv.m) v *= det;
    return inv;
}

std::optional<Vecd> unproject(const Vecd& window, const Mat4& modelView, const Mat4& projection,
                              const std::array<int, 4>& viewport) {
    const auto inv = (projection * modelView).inverse();
    if (!inv) return std::nullopt;
    return unprojectWith(*inv, window, viewport);
}

std::optional<Vecd> unprojectWith(const Mat4& inverse, const Vecd& window,
                                  const std::array<int, 4>& viewport) {
    const Mat4* inv = &inverse;
    // Window to normalised device coordinates, then back through the inverse.
    const double in[4] = {(window.x - viewport[0]) / viewport[2] * 2 - 1,
                          (window.y - viewport[1]) / viewport[3] * 2 - 1, window.z * 2 - 1, 1.0};
    double out[4];
    for (int i = 0; i < 4; ++i)
        out[i] = (*inv)[0 * 4 + i] * in[0] + (*inv)[1 * 4 + i] * in[1] + (*inv)[2 * 4 + i] * in[2] +
                 (*inv)[3 * 4 + i] * in[3];
    if (out[3] == 0.0) return std::nullopt;
    return Vecd{out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

std::ostream& operator<<(std::ostream& os, const Mat4& m) {
    const auto precision = os.precision(17);
    os << '[';
    for (int r = 0; r < 4; ++r) {
        os << (r ? "; " : "");
        for (int c = 0; c < 4; ++c) os << (c ? " " : "") << m.at(r, c);
    }
    os << ']';
    os.precision(precision);
    return os;
}

}  // namespace qm
