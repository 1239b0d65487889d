// The cells of a chunk of splats computed ahead of their application, two at a time with SSE2,
// and the depth surface's test for the four pixels of one splat at once. Both give exactly the
// floats of TBitmap3D::splatCell and surfaceCoverage: the same operations in the same order
// and precision, lane by lane (SSE2 arithmetic rounds as scalar code does).
//
//   SplatCells cells;
//   computeSplatCells<true>(pixels, count, limits, cells);  // in pixel order, outside dropped
//   for (std::int32_t c = 0; c < cells.count; ++c) ... cells.index[c], cells.weight[c] ...
#pragma once

#include "core/hot_path.h"

#include <cstdint>

#include "core/render/bitmap3d.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

// The splats of a chunk that land inside the image, in the order of their pixels.
struct SplatCells {
    static constexpr std::int32_t kCapacity = 2 * TBitmap3D::kSplatChunk;  // a chunk and its mirror
    // w00, w10, w01, w11: pixels (i, j), (i + 1, j), (i, j + 1), (i + 1, j + 1).
    alignas(16) float weight[kCapacity][4];
    std::int32_t index[kCapacity];  // of pixel (i, j)
    float depth[kCapacity];         // pixel.z rounded to float, when asked for
    std::int32_t count = 0;
};

// Fills cells with the splats of pixel[0 .. count) (count at most SplatCells::kCapacity):
// splatCell's cells and weights and, with kDepth, the depths.
template <bool kDepth>
QM_HOT_INLINE void computeSplatCells(const Vecd* pixel, std::int32_t count,
                                     const TBitmap3D::SplatLimits& limits, SplatCells& cells) {
    std::int32_t c = 0, i = 0;
#if defined(__SSE2__)
    const __m128d half = _mm_set1_pd(0.5), shift = _mm_set1_pd(6755399441055744.0);
    const __m128d zero = _mm_setzero_pd(), rowLength = _mm_set1_pd(limits.rowLength);
    const __m128d lastColumn = _mm_set1_pd(limits.lastColumn),
                  lastRow = _mm_set1_pd(limits.lastRow);
    const __m128 one = _mm_set1_ps(1.0f);
    for (; i + 1 < count; i += 2) {
        const __m128d x = _mm_loadh_pd(_mm_load_sd(&pixel[i].x), &pixel[i + 1].x);
        const __m128d y = _mm_loadh_pd(_mm_load_sd(&pixel[i].y), &pixel[i + 1].y);
        // roundHalfEven(x - 0.5), and the range test as doubles.
        const __m128d ci = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(x, half), shift), shift);
        const __m128d cj = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(y, half), shift), shift);
        const __m128d inside =
            _mm_and_pd(_mm_and_pd(_mm_cmplt_pd(zero, ci), _mm_cmplt_pd(ci, lastColumn)),
                       _mm_and_pd(_mm_cmplt_pd(zero, cj), _mm_cmplt_pd(cj, lastRow)));
        const int mask = _mm_movemask_pd(inside);
        if (mask == 0) continue;
        // Cells outside become 0 so that no conversion sees a non-finite or huge value.
        const __m128d si = _mm_and_pd(ci, inside), sj = _mm_and_pd(cj, inside);
        const __m128 fx = _mm_cvtpd_ps(_mm_sub_pd(x, si));
        const __m128 fy = _mm_cvtpd_ps(_mm_sub_pd(y, sj));
        const __m128 fxy = _mm_mul_ps(fx, fy);
        const __m128 w00 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(one, fx), fy), fxy);
        const __m128 w10 = _mm_sub_ps(fx, fxy);
        const __m128 w01 = _mm_sub_ps(fy, fxy);
        // Lanes 0 and 1 hold the two points; transposed to one vector of four weights each.
        const __m128 top = _mm_unpacklo_ps(w00, w10), bottom = _mm_unpacklo_ps(w01, fxy);
        const __m128 first = _mm_movelh_ps(top, bottom), second = _mm_movehl_ps(bottom, top);
        // i + j * row is exact in double for any image, so one conversion gives the index.
        const __m128i index = _mm_cvttpd_epi32(_mm_add_pd(si, _mm_mul_pd(sj, rowLength)));
        alignas(16) float depth[4];
        if constexpr (kDepth) {
            const __m128d z = _mm_loadh_pd(_mm_load_sd(&pixel[i].z), &pixel[i + 1].z);
            _mm_store_ps(depth, _mm_cvtpd_ps(z));
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
    }
#endif
    for (; i < count; ++i) {
        Splat s;
        if (!TBitmap3D::splatCell(pixel[i].x, pixel[i].y, limits, s)) continue;
        cells.weight[c][0] = s.w00;
        cells.weight[c][1] = s.w10;
        cells.weight[c][2] = s.w01;
        cells.weight[c][3] = s.w11;
        cells.index[c] = s.index;
        if constexpr (kDepth) cells.depth[c] = static_cast<float>(pixel[i].z);
        ++c;
    }
    cells.count = c;
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
        : depthRange(_mm_set1_pd(depthRange)), scale(_mm_set1_pd(scale)) {}

    QM_HOT_INLINE __m128 operator()(float* row0, float* row1, __m128 w, __m128 d) const {
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
        const __m128 front = _mm_cmpgt_ps(h, _mm_setzero_ps());
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
};
#endif

}  // namespace qm
