// The cells of a chunk of splats computed ahead of their application, two at a time with SSE2,
// and the depth surface's test for the four pixels of one splat at once. Both give exactly the
// floats of TBitmap3D::splatCell and surfaceCoverage: the same operations in the same order
// and precision, lane by lane (SSE2 arithmetic rounds as scalar code does).
//
//   SplatCells cells;
//   projectSplatCells<true>(target, points, count, cells);  // in point order, outside dropped
//   for (std::int32_t c = 0; c < cells.count; ++c) ... cells.index[c], cells.weight[c] ...
//
// forEachSplatCell gives the same cells one by one, with their rows and fractions, for any
// buffer's matrix.
#pragma once

#include "core/hot_path.h"

#include <array>
#include <cstdint>

#include "core/render/bitmap3d.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

#if defined(__SSE2__)
// The cells of two projected pixels, one a lane, as splatCell finds them: a cell's corner is
// roundHalfEven(p - 0.5) and the range test is made in doubles. of gives the lanes inside as a
// movemask and their corners, those of the lanes outside set to 0 so that no conversion sees a
// non-finite or huge value; index gives i + j * row, exact in double for any image.
struct CellLanes {
    __m128d half = _mm_set1_pd(0.5), shift = _mm_set1_pd(6755399441055744.0);
    __m128d zero = _mm_setzero_pd(), rowLength, lastColumn, lastRow;
    explicit CellLanes(const TBitmap3D::SplatLimits& limits)
        : rowLength(_mm_set1_pd(limits.rowLength)),
          lastColumn(_mm_set1_pd(limits.lastColumn)),
          lastRow(_mm_set1_pd(limits.lastRow)) {}
    QM_HOT_INLINE int of(__m128d px, __m128d py, __m128d& si, __m128d& sj) const {
        const __m128d ci = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(px, half), shift), shift);
        const __m128d cj = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(py, half), shift), shift);
        const __m128d inside =
            _mm_and_pd(_mm_and_pd(_mm_cmplt_pd(zero, ci), _mm_cmplt_pd(ci, lastColumn)),
                       _mm_and_pd(_mm_cmplt_pd(zero, cj), _mm_cmplt_pd(cj, lastRow)));
        si = _mm_and_pd(ci, inside);
        sj = _mm_and_pd(cj, inside);
        return _mm_movemask_pd(inside);
    }
    QM_HOT_INLINE __m128i index(__m128d si, __m128d sj) const {
        return _mm_cvttpd_epi32(_mm_add_pd(si, _mm_mul_pd(sj, rowLength)));
    }
};
#endif

// The splats of a chunk that land inside the image, in the order of their pixels.
struct SplatCells {
    static constexpr std::int32_t kCapacity = 2 * TBitmap3D::kSplatChunk;  // a chunk and its mirror
    static constexpr std::int32_t kSpare = 16;
    // w00, w10, w01, w11: pixels (i, j), (i + 1, j), (i, j + 1), (i + 1, j + 1).
    alignas(16) float weight[kCapacity][4];
    std::int32_t index[kCapacity + kSpare];  // of pixel (i, j); room to repeat the last
    float depth[kCapacity];                  // pixel.z rounded to float, when asked for
    std::int32_t count = 0;
};

// Projects points[0 .. count) (count at most TBitmap3D::kSplatChunk) as TBitmap3D::project
// does, each followed by its mirror image when target.mirror is set, and fills cells with
// their splats: splatCell's cells and weights and, with kDepth, the depths.
template <bool kDepth>
QM_HOT_INLINE void projectSplatCells(const TBitmap3D& target, const Vecd* points,
                                     std::int32_t count, SplatCells& cells) {
    // A local copy of the matrix, as in projectChunk: the stores to cells might alias it.
    const std::array<double, 16> m = target.combinedMatrix.m;
    const double width = target.imageWidth, height = target.imageHeight;
    const TBitmap3D::SplatLimits limits(target.imageWidth, target.imageHeight);
    std::int32_t c = 0, i = 0;
    // Appends the splat of one pixel; the scalar form of the pairs below.
    auto one = [&](double x, double y, double z) QM_HOT_LAMBDA {
        const double px = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * width * 0.5;
        const double py = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * height * 0.5;
        Splat s;
        if (!TBitmap3D::splatCell(px, py, limits, s)) return;
        cells.weight[c][0] = s.w00;
        cells.weight[c][1] = s.w10;
        cells.weight[c][2] = s.w01;
        cells.weight[c][3] = s.w11;
        cells.index[c] = s.index;
        if constexpr (kDepth)
            cells.depth[c] =
                static_cast<float>((m[2] * x + m[6] * y + m[10] * z + m[14] + 1) * 0.5);
        ++c;
    };
#if defined(__SSE2__)
    // Two pixels a pass, in the two lanes: two points, or a point and its mirror image. The
    // projection's sums are formed in the order project forms them.
    const __m128d m0 = _mm_set1_pd(m[0]), m4 = _mm_set1_pd(m[4]), m8 = _mm_set1_pd(m[8]);
    const __m128d m12 = _mm_set1_pd(m[12]), m1 = _mm_set1_pd(m[1]), m5 = _mm_set1_pd(m[5]);
    const __m128d m9 = _mm_set1_pd(m[9]), m13 = _mm_set1_pd(m[13]), m2 = _mm_set1_pd(m[2]);
    const __m128d m6 = _mm_set1_pd(m[6]), m10 = _mm_set1_pd(m[10]), m14 = _mm_set1_pd(m[14]);
    const __m128d w = _mm_set1_pd(width), h = _mm_set1_pd(height), unit = _mm_set1_pd(1.0);
    const CellLanes lanes(limits);
    const __m128 onef = _mm_set1_ps(1.0f);
    auto pair = [&](__m128d x, __m128d y, __m128d z) QM_HOT_LAMBDA {
        const __m128d px = _mm_mul_pd(
            _mm_mul_pd(
                _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m0, x), _mm_mul_pd(m4, y)),
                                                 _mm_mul_pd(m8, z)),
                                      m12),
                           unit),
                w),
            lanes.half);
        const __m128d py = _mm_mul_pd(
            _mm_mul_pd(
                _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m1, x), _mm_mul_pd(m5, y)),
                                                 _mm_mul_pd(m9, z)),
                                      m13),
                           unit),
                h),
            lanes.half);
        __m128d si, sj;
        const int mask = lanes.of(px, py, si, sj);
        if (mask == 0) return;
        const __m128 fx = _mm_cvtpd_ps(_mm_sub_pd(px, si));
        const __m128 fy = _mm_cvtpd_ps(_mm_sub_pd(py, sj));
        const __m128 fxy = _mm_mul_ps(fx, fy);
        const __m128 w00 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(onef, fx), fy), fxy);
        const __m128 w10 = _mm_sub_ps(fx, fxy);
        const __m128 w01 = _mm_sub_ps(fy, fxy);
        // Lanes 0 and 1 hold the two pixels; transposed to one vector of four weights each.
        const __m128 top = _mm_unpacklo_ps(w00, w10), bottom = _mm_unpacklo_ps(w01, fxy);
        const __m128 first = _mm_movelh_ps(top, bottom), second = _mm_movehl_ps(bottom, top);
        const __m128i index = lanes.index(si, sj);
        alignas(16) float depth[4];
        if constexpr (kDepth) {
            const __m128d pz = _mm_mul_pd(
                _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m2, x), _mm_mul_pd(m6, y)),
                                                 _mm_mul_pd(m10, z)),
                                      m14),
                           unit),
                lanes.half);
            _mm_store_ps(depth, _mm_cvtpd_ps(pz));
        }
        // Both lanes are written; the count moves past the ones inside.
        _mm_store_ps(cells.weight[c], first);
        cells.index[c] = _mm_cvtsi128_si32(index);
        if constexpr (kDepth) cells.depth[c] = depth[0];
        c += mask & 1;
        _mm_store_ps(cells.weight[c], second);
        cells.index[c] = _mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1));
        if constexpr (kDepth) cells.depth[c] = depth[1];
        c += mask >> 1;
    };
    if (target.mirror) {
        // The mirror image is projected with z times -1, as projectChunk forms it.
        const __m128d sign = _mm_set_pd(-1.0, 1.0);
        for (; i < count; ++i)
            pair(_mm_load1_pd(&points[i].x), _mm_load1_pd(&points[i].y),
                 _mm_mul_pd(sign, _mm_load1_pd(&points[i].z)));
    } else {
        for (; i + 1 < count; i += 2)
            pair(_mm_loadh_pd(_mm_load_sd(&points[i].x), &points[i + 1].x),
                 _mm_loadh_pd(_mm_load_sd(&points[i].y), &points[i + 1].y),
                 _mm_loadh_pd(_mm_load_sd(&points[i].z), &points[i + 1].z));
    }
#endif
    for (; i < count; ++i) {
        one(points[i].x, points[i].y, points[i].z);
        if (target.mirror) one(points[i].x, points[i].y, -1.0 * points[i].z);
    }
    cells.count = c;
}

// The cells of points[0 .. count) projected by the column-major matrix m onto a buffer
// width x height pixels, as TBitmap3D::project and splatFractions form them (a light map's
// mapCoordinates is the same formula), each point followed by its mirror image (z times -1)
// when mirror is set: cell(i, index, fx, fy, row, depth) for each cell inside the buffer, in
// that order, with i the point's place in points, row the cell's row j and depth the double
// (z + 1) * 0.5 (0 without kDepth). Two pixels a pass with SSE2, lane by lane the operations
// of the scalar form.
template <bool kDepth, class Cell>
QM_HOT_INLINE void forEachSplatCell(const std::array<double, 16>& m, std::int32_t width,
                                    std::int32_t height, bool mirror, const Vecd* points,
                                    std::int32_t count, Cell&& cell) {
    const double w = width, h = height;
    const TBitmap3D::SplatLimits limits(width, height);
    std::int32_t i = 0;
#if defined(__SSE2__)
    const __m128d m0 = _mm_set1_pd(m[0]), m4 = _mm_set1_pd(m[4]), m8 = _mm_set1_pd(m[8]);
    const __m128d m12 = _mm_set1_pd(m[12]), m1 = _mm_set1_pd(m[1]), m5 = _mm_set1_pd(m[5]);
    const __m128d m9 = _mm_set1_pd(m[9]), m13 = _mm_set1_pd(m[13]), m2 = _mm_set1_pd(m[2]);
    const __m128d m6 = _mm_set1_pd(m[6]), m10 = _mm_set1_pd(m[10]), m14 = _mm_set1_pd(m[14]);
    const __m128d wd = _mm_set1_pd(w), hd = _mm_set1_pd(h), unit = _mm_set1_pd(1.0);
    const CellLanes lanes(limits);
    // Lane l holds point first + l * step.
    auto pair = [&](__m128d x, __m128d y, __m128d z, std::int32_t first,
                    std::int32_t step) QM_HOT_LAMBDA {
        const __m128d px = _mm_mul_pd(
            _mm_mul_pd(
                _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m0, x), _mm_mul_pd(m4, y)),
                                                 _mm_mul_pd(m8, z)),
                                      m12),
                           unit),
                wd),
            lanes.half);
        const __m128d py = _mm_mul_pd(
            _mm_mul_pd(
                _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m1, x), _mm_mul_pd(m5, y)),
                                                 _mm_mul_pd(m9, z)),
                                      m13),
                           unit),
                hd),
            lanes.half);
        __m128d si, sj;
        const int mask = lanes.of(px, py, si, sj);
        if (mask == 0) return;
        alignas(16) float fx[4], fy[4];
        alignas(16) std::int32_t index[4], row[4];
        alignas(16) double depth[2] = {0, 0};
        _mm_store_ps(fx, _mm_cvtpd_ps(_mm_sub_pd(px, si)));
        _mm_store_ps(fy, _mm_cvtpd_ps(_mm_sub_pd(py, sj)));
        _mm_store_si128(reinterpret_cast<__m128i*>(index), lanes.index(si, sj));
        _mm_store_si128(reinterpret_cast<__m128i*>(row), _mm_cvttpd_epi32(sj));
        if constexpr (kDepth)
            _mm_store_pd(depth,
                         _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(m2, x),
                                                                                _mm_mul_pd(m6, y)),
                                                                     _mm_mul_pd(m10, z)),
                                                          m14),
                                               unit),
                                    lanes.half));
        if (mask & 1) cell(first, index[0], fx[0], fy[0], row[0], depth[0]);
        if (mask & 2) cell(first + step, index[1], fx[1], fy[1], row[1], depth[1]);
    };
    if (mirror) {
        const __m128d sign = _mm_set_pd(-1.0, 1.0);
        for (; i < count; ++i)
            pair(_mm_load1_pd(&points[i].x), _mm_load1_pd(&points[i].y),
                 _mm_mul_pd(sign, _mm_load1_pd(&points[i].z)), i, 0);
    } else {
        for (; i + 1 < count; i += 2)
            pair(_mm_loadh_pd(_mm_load_sd(&points[i].x), &points[i + 1].x),
                 _mm_loadh_pd(_mm_load_sd(&points[i].y), &points[i + 1].y),
                 _mm_loadh_pd(_mm_load_sd(&points[i].z), &points[i + 1].z), i, 1);
    }
#endif
    auto one = [&](double x, double y, double z) QM_HOT_LAMBDA {
        const double px = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * w * 0.5;
        const double py = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * h * 0.5;
        std::int32_t index, row;
        float fx, fy;
        if (!TBitmap3D::splatFractions(px, py, limits, index, fx, fy, row)) return;
        double depth = 0;
        if constexpr (kDepth) depth = (m[2] * x + m[6] * y + m[10] * z + m[14] + 1) * 0.5;
        cell(i, index, fx, fy, row, depth);
    };
    for (; i < count; ++i) {
        one(points[i].x, points[i].y, points[i].z);
        if (mirror) one(points[i].x, points[i].y, -1.0 * points[i].z);
    }
}

#if defined(__SSE2__)
// surfaceCoverage for the four pixels of one splat, without a branch: row0 points at the
// surface of pixels (i, j) and (i + 1, j), row1 at (i, j + 1) and (i + 1, j + 1), w holds
// their weights in that order and d the point's depth in every lane. The four pixels are
// distinct, so testing them together gives what testing them one after the other does. Moves
// the surfaces as surfaceCoverage does and returns the four coverages; a lane not above 0
// (a hidden pixel, or a NaN) adds nothing.
struct SurfaceTest4 {
    SurfaceTest4(double depthRange, double scale)
        : depthRange(_mm_set1_pd(depthRange)),
          scale(_mm_set1_pd(scale)),
          signOfDifference(depthRange >= 1 && scale >= 0x1p-50 && depthRange * scale * 10 >= 4 &&
                           depthRange * scale < 1e300) {}

    // kSignOfDifference: whether the surface moves may be decided on the sign of surface - d
    // (signOfDifference must be true). A splat often shares pixels with the one before it,
    // and its surfaces then wait for that splat's stores: deciding the move without h keeps
    // the products and conversions of h out of that chain. The products scale the
    // difference by depthRange * scale * 10 >= 4 (each rounding in double off by far less
    // than that factor, and nothing underflows for these factors), so h is positive exactly
    // when the difference is, even for the smallest float difference; both are false for a
    // NaN.
    template <bool kSignOfDifference>
    QM_HOT_INLINE __m128 test(float* row0, float* row1, __m128 w, __m128 d) const {
        // Four scalar loads: a load that lies within one earlier store of a pair is forwarded
        // from it, while a pair load that overlaps a pair stored one pixel aside would wait
        // for that store to reach the cache (neighbouring splats often overlap so).
        const __m128 s = load4(row0, row1);
        // h = (surface - d) * depthRange * scale * 10: the difference in float, the products
        // in double, rounded once to float.
        const __m128 diff = _mm_sub_ps(s, d);
        const __m128d low = _mm_cvtps_pd(diff), high = _mm_cvtps_pd(_mm_movehl_ps(diff, diff));
        const __m128d ten = _mm_set1_pd(10.0);
        const __m128 h = _mm_movelh_ps(
            _mm_cvtpd_ps(_mm_mul_pd(_mm_mul_pd(_mm_mul_pd(low, depthRange), scale), ten)),
            _mm_cvtpd_ps(_mm_mul_pd(_mm_mul_pd(_mm_mul_pd(high, depthRange), scale), ten)));
        // In front (h > 0): the surface moves towards the point by the weight.
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 moved = _mm_add_ps(_mm_mul_ps(s, _mm_sub_ps(one, w)), _mm_mul_ps(d, w));
        const __m128 front = kSignOfDifference ? _mm_cmpgt_ps(diff, _mm_setzero_ps())
                                               : _mm_cmpgt_ps(h, _mm_setzero_ps());
        const __m128 kept = _mm_or_ps(_mm_and_ps(front, moved), _mm_andnot_ps(front, s));
        _mm_storel_pi(reinterpret_cast<__m64*>(row0), kept);
        _mm_storeh_pi(reinterpret_cast<__m64*>(row1), kept);
        // min((h + 1) * 0.5, 1) as std::min takes it: (1 < v) ? 1 : v, a NaN staying NaN.
        // Behind the surface (h <= -1) it is not above 0 either.
        return _mm_min_ps(one, _mm_mul_ps(_mm_add_ps(h, one), _mm_set1_ps(0.5f)));
    }

    QM_HOT_INLINE static __m128 load4(const float* row0, const float* row1) {
        const __m128 top = _mm_unpacklo_ps(_mm_load_ss(row0), _mm_load_ss(row0 + 1));
        const __m128 bottom = _mm_unpacklo_ps(_mm_load_ss(row1), _mm_load_ss(row1 + 1));
        return _mm_movelh_ps(top, bottom);
    }

    __m128d depthRange, scale;
    bool signOfDifference;
};
#endif

}  // namespace qm
