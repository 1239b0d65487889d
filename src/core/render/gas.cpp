#include "core/render/gas.h"

#include "core/math/cr_exp_log.h"
#include "core/render/splat_cells.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

TBitmap3D_Gas::TBitmap3D_Gas() {
    SetDefaults();
}

TBitmap3D_Gas::TBitmap3D_Gas(const TBitmap3D& source, ModeSwitch tag) : TBitmap3D(source, tag) {
    const auto* same = dynamic_cast<const TBitmap3D_Gas*>(&source);
    if (same) {
        luminosity = same->luminosity;
        gamma = same->gamma;
        SetBackgroundColor(source.backgroundColor);
        SetPointColor(source.pointColor);
    } else {
        SetDefaults();
    }
    mode = static_cast<std::uint8_t>(RenderMode::Gas);
}

void TBitmap3D_Gas::SetDefaults() {
    mode = static_cast<std::uint8_t>(RenderMode::Gas);
    gamma = 2.5;
    luminosity = 2.0;
    SetBackgroundColor({0, 0, 0});
    SetPointColor({1, 1, 1});
}

void TBitmap3D_Gas::AllocateBuffers() {
    TBitmap3D::AllocateBuffers();
    density.assign(static_cast<std::size_t>(pixelCount), 0.0f);
}

void TBitmap3D_Gas::findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const {
    const auto from = static_cast<std::size_t>(partStart(part, parts, imageHeight)) * imageWidth;
    const auto to = static_cast<std::size_t>(partStart(part + 1, parts, imageHeight)) * imageWidth;
    float p = 0;
    for (std::size_t i = from; i < to; ++i) p = std::max(p, density[i]);
    peaks[0] = p;
}

void TBitmap3D_Gas::preparePeaks(const float* peaks, std::int32_t parts) {
    peak = 0;
    for (std::int32_t i = 0; i < parts; ++i) peak = std::max(peak, peaks[i]);
    foundPeak = peak;
    if (fixedPeak > 0 && peak > 0) peak = fixedPeak;
}

void TBitmap3D_Gas::ClearImage() {
    TBitmap3D::ClearImage();
    peak = 0;
    std::fill(density.begin(), density.end(), 0.0f);
    std::fill(fixedDensity.begin(), fixedDensity.end(), std::int64_t{0});
}

namespace {

// Adds a splat's four weights to a float density, as splatGas does.
struct FloatSums {
    float* d;
    std::int32_t row;
    [[gnu::always_inline]] void operator()(std::int32_t at, float w00, float w10, float w01,
                                           float w11) const {
        float* q = d + at;
        q[0] += w00;
        q[1] += w10;
        q[row] += w01;
        q[row + 1] += w11;
    }
};

// Adds them as units to a thread's fixed-point sums (GasFixedSums); units() takes weights
// already converted (fixedUnits).
struct FixedSums {
    std::uint32_t* low;
    std::uint32_t* high;
    std::int32_t row;
    [[gnu::always_inline]] static void add(std::uint32_t* word, std::uint32_t* carry,
                                           std::uint32_t u) {
        *word += u;
        if (*word >= GasFixedSums::kHighUnit) [[unlikely]]
            GasFixedSums::carry(word, carry);
    }
    [[gnu::always_inline]] void units(std::int32_t at, std::uint32_t u00, std::uint32_t u10,
                                      std::uint32_t u01, std::uint32_t u11) const {
        std::uint32_t* const l = low + at;
        std::uint32_t* const h = high + at;
        add(l, h, u00);
        add(l + 1, h + 1, u10);
        add(l + row, h + row, u01);
        add(l + row + 1, h + row + 1, u11);
    }
    [[gnu::always_inline]] void operator()(std::int32_t at, float w00, float w10, float w01,
                                           float w11) const {
        units(at, TBitmap3D_Gas::fixedUnits(w00), TBitmap3D_Gas::fixedUnits(w10),
              TBitmap3D_Gas::fixedUnits(w01), TBitmap3D_Gas::fixedUnits(w11));
    }
};

// Adds them with atomic additions, for sums that several threads share.
struct SharedFixedSums {
    std::int64_t* d;
    std::int32_t row;
    [[gnu::always_inline]] void operator()(std::int32_t at, float w00, float w10, float w01,
                                           float w11) const {
        auto add = [this](std::int32_t i, float w) {
            // Saturating, as every fixed-point sum (gas.h).
            std::atomic_ref<std::int64_t> sum(d[i]);
            const std::int64_t u = TBitmap3D_Gas::fixedUnits(w);
            std::int64_t before = sum.load(std::memory_order_relaxed);
            while (!sum.compare_exchange_weak(before, addFixedSums(before, u),
                                              std::memory_order_relaxed)) {
            }
        };
        add(at, w00);
        add(at + 1, w10);
        add(at + row, w01);
        add(at + row + 1, w11);
    }
};

// The Gas splat of a chunk of projected pixels, two at a time with SSE2: the cells and
// weights of both are computed in vector registers with the same operations, in the same
// order and precision as splatCell (SSE2 arithmetic rounds exactly as scalar code does), and
// the additions stay scalar and in point order.
template <class Add>
[[gnu::always_inline]] inline void splatGasChunk(const Vecd* pixel, std::int32_t count,
                                                 const Add& add,
                                                 const TBitmap3D::SplatLimits& limits) {
    auto splatOne = [&add, &limits](const Vecd& px) {
        Splat s;
        if (!TBitmap3D::splatCell(px.x, px.y, limits, s)) return;
        add(s.index, s.w00, s.w10, s.w01, s.w11);
    };
    std::int32_t i = 0;
#if defined(__SSE2__)
    const CellLanes lanes(limits);
    const __m128 one = _mm_set1_ps(1.0f);
    for (; i + 1 < count; i += 2) {
        const __m128d x = _mm_loadh_pd(_mm_load_sd(&pixel[i].x), &pixel[i + 1].x);
        const __m128d y = _mm_loadh_pd(_mm_load_sd(&pixel[i].y), &pixel[i + 1].y);
        __m128d si, sj;
        const int mask = lanes.of(x, y, si, sj);
        if (mask == 0) continue;
        const __m128 fx = _mm_cvtpd_ps(_mm_sub_pd(x, si));
        const __m128 fy = _mm_cvtpd_ps(_mm_sub_pd(y, sj));
        const __m128 fxy = _mm_mul_ps(fx, fy);
        const __m128 v00 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(one, fx), fy), fxy);
        const __m128 v10 = _mm_sub_ps(fx, fxy), v01 = _mm_sub_ps(fy, fxy);
        alignas(16) std::int32_t index[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(index), lanes.index(si, sj));
        alignas(16) float w00[4], w10[4], w01[4], w11[4];
        _mm_store_ps(w00, v00);
        _mm_store_ps(w10, v10);
        _mm_store_ps(w01, v01);
        _mm_store_ps(w11, fxy);
        for (int k = 0; k < 2; ++k) {
            if (!(mask & (1 << k))) continue;
            add(index[k], w00[k], w10[k], w01[k], w11[k]);
        }
    }
#endif
    for (; i < count; ++i) splatOne(pixel[i]);
}

#if defined(__SSE2__)
// splatGasChunk's cells and weights, added as units to a thread's sums: each splat's four
// weights are converted in one vector (fixedUnits lane by lane: the product by
// 2^kGasFixedBits is exact, and a weight that rounding made negative, clamped to 0 first,
// gives no unit, as it does there) and added to the four low words in one vector, whose sign
// bits then say whether a word reached GasFixedSums::kHighUnit (rare: 64 whole weights).
[[gnu::always_inline]] inline void splatFixedChunk(const Vecd* pixel, std::int32_t count,
                                                   const FixedSums& sums,
                                                   const TBitmap3D::SplatLimits& limits) {
    const std::int32_t row = limits.rowLength;
    std::int32_t i = 0;
    const CellLanes lanes(limits);
    const __m128 one = _mm_set1_ps(1.0f), nothing = _mm_setzero_ps();
    const __m128 scale = _mm_set1_ps(static_cast<float>(1 << kGasFixedBits));
    auto addUnits = [&sums, row](std::int32_t at, __m128i u) QM_HOT_LAMBDA {
        std::uint32_t* const top = sums.low + at;
        std::uint32_t* const bottom = top + row;
        const __m128i before =
            _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom)));
        const __m128i after = _mm_add_epi32(before, u);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top), after);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom), _mm_unpackhi_epi64(after, after));
        if (_mm_movemask_ps(_mm_castsi128_ps(after)) != 0) [[unlikely]] {
            std::uint32_t* const carry = sums.high + at;
            for (std::int32_t k : {0, 1, row, row + 1}) GasFixedSums::carry(top + k, carry + k);
        }
    };
    for (; i + 1 < count; i += 2) {
        const __m128d x = _mm_loadh_pd(_mm_load_sd(&pixel[i].x), &pixel[i + 1].x);
        const __m128d y = _mm_loadh_pd(_mm_load_sd(&pixel[i].y), &pixel[i + 1].y);
        __m128d si, sj;
        const int mask = lanes.of(x, y, si, sj);
        if (mask == 0) continue;
        const __m128 fx = _mm_cvtpd_ps(_mm_sub_pd(x, si));
        const __m128 fy = _mm_cvtpd_ps(_mm_sub_pd(y, sj));
        const __m128 fxy = _mm_mul_ps(fx, fy);
        const __m128 w00 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(one, fx), fy), fxy);
        const __m128 w10 = _mm_sub_ps(fx, fxy), w01 = _mm_sub_ps(fy, fxy);
        // Lanes 0 and 1 hold the two pixels; transposed to one vector of four weights each,
        // in the order of the words they go to: (i, j), (i + 1, j), (i, j + 1), (i + 1, j + 1).
        const __m128 top = _mm_unpacklo_ps(w00, w10), bottom = _mm_unpacklo_ps(w01, fxy);
        auto units = [scale, nothing](__m128 w) QM_HOT_LAMBDA {
            return _mm_cvttps_epi32(_mm_max_ps(_mm_mul_ps(w, scale), nothing));
        };
        const __m128i index = lanes.index(si, sj);
        if (mask & 1) addUnits(_mm_cvtsi128_si32(index), units(_mm_movelh_ps(top, bottom)));
        if (mask & 2)
            addUnits(_mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1)),
                     units(_mm_movehl_ps(bottom, top)));
    }
    for (; i < count; ++i) {
        Splat s;
        if (!TBitmap3D::splatCell(pixel[i].x, pixel[i].y, limits, s)) continue;
        sums(s.index, s.w00, s.w10, s.w01, s.w11);
    }
}
#endif

template <class Add>
void plotGasBlock(const TBitmap3D_Gas& t, const Vecd* points, std::int32_t n, const Add& add) {
    // Projections first, then the splats in point order; with the mirror, each point's image
    // directly follows it, so that every sum is added in the same order as with PlotPoint.
    constexpr std::int32_t kSplatChunk = TBitmap3D::kSplatChunk;
    const TBitmap3D::SplatLimits limits(t.imageWidth, t.imageHeight);
    Vecd pixel[kSplatChunk], mirrored[kSplatChunk], both[2 * kSplatChunk];
    for (std::int32_t start = 0; start < n; start += kSplatChunk) {
        const std::int32_t count = std::min(kSplatChunk, n - start);
        t.projectChunk<false>(points + start, count, 1.0, pixel);
        if (t.mirror) {
            t.projectChunk<false>(points + start, count, -1.0, mirrored);
            for (std::int32_t i = 0; i < count; ++i) {
                both[2 * i] = pixel[i];
                both[2 * i + 1] = mirrored[i];
            }
            splatGasChunk(both, 2 * count, add, limits);
        } else {
            splatGasChunk(pixel, count, add, limits);
        }
    }
}

}  // namespace

void TBitmap3D_Gas::PlotBlock(const Vecd* points, std::int32_t n) {
    plotGasBlock(*this, points, n, FloatSums{density.data(), imageWidth});
}

void TBitmap3D_Gas::PlotBlockFixed(const Vecd* points, std::int32_t n, GasFixedSums& sums) const {
    const FixedSums add{sums.low.data(), sums.high.data(), imageWidth};
#if defined(__SSE2__)
    constexpr std::int32_t kSplatChunk = TBitmap3D::kSplatChunk;
    const TBitmap3D::SplatLimits limits(imageWidth, imageHeight);
    Vecd pixel[kSplatChunk], mirrored[kSplatChunk], both[2 * kSplatChunk];
    for (std::int32_t start = 0; start < n; start += kSplatChunk) {
        const std::int32_t count = std::min(kSplatChunk, n - start);
        projectChunk<false>(points + start, count, 1.0, pixel);
        if (mirror) {
            projectChunk<false>(points + start, count, -1.0, mirrored);
            for (std::int32_t i = 0; i < count; ++i) {
                both[2 * i] = pixel[i];
                both[2 * i + 1] = mirrored[i];
            }
            splatFixedChunk(both, 2 * count, add, limits);
        } else {
            splatFixedChunk(pixel, count, add, limits);
        }
    }
#else
    plotGasBlock(*this, points, n, add);
#endif
}

void TBitmap3D_Gas::PlotBlockShared(const Vecd* points, std::int32_t n) {
    plotGasBlock(*this, points, n, SharedFixedSums{fixedDensity.data(), imageWidth});
}

void TBitmap3D_Gas::developFixed(GasFixedSums* const* parts, std::int32_t partCount,
                                 std::int32_t firstRow, std::int32_t lastRow, bool fold,
                                 bool fixedEmpty) {
    const auto from = static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(imageWidth);
    const auto to = static_cast<std::size_t>(lastRow) * static_cast<std::size_t>(imageWidth);
    std::int64_t* const sums = fixedDensity.data();
    float* const out = density.data();
    if (partCount == 0) {
        for (std::size_t i = from; i < to; ++i) out[i] = fixedToFloat(sums[i]);
        return;
    }
    // Every part but the last is added on its own; the last one in the pass that writes
    // density (the common case, one thread, is then a single pass).
    const std::int32_t last = partCount - 1;
    if (!fold) {
        if (last == 0) {
            const std::uint32_t* const low = parts[0]->low.data();
            const std::uint32_t* const high = parts[0]->high.data();
            if (fixedEmpty) {
                for (std::size_t i = from; i < to; ++i)
                    out[i] = fixedToFloat(GasFixedSums::sum(low[i], high[i]));
            } else {
                for (std::size_t i = from; i < to; ++i)
                    out[i] =
                        fixedToFloat(addFixedSums(sums[i], GasFixedSums::sum(low[i], high[i])));
            }
            return;
        }
        for (std::size_t i = from; i < to; ++i) {
            std::int64_t sum = fixedEmpty ? 0 : sums[i];
            for (std::int32_t b = 0; b < partCount; ++b) sum = addFixedSums(sum, parts[b]->at(i));
            out[i] = fixedToFloat(sum);
        }
        return;
    }
    for (std::int32_t b = 0; b <= last; ++b) {
        std::uint32_t* const low = parts[b]->low.data();
        std::uint32_t* const high = parts[b]->high.data();
        for (std::size_t i = from; i < to; ++i) {
            sums[i] = addFixedSums(sums[i], GasFixedSums::sum(low[i], high[i]));
            low[i] = high[i] = 0;
            if (b == last) out[i] = fixedToFloat(sums[i]);
        }
    }
}

namespace {

// The level of a pixel of density c > 0, before its truncation: pow in double on the float
// operands, rounded to float; then the brightness f.
float gasLevel(float c, float peak, float e, float f) {
    return crm::powFloat(static_cast<double>(c / peak), e) * f;
}

}  // namespace

void TBitmap3D_Gas::buildRows(std::int32_t first, std::int32_t last) {
    if (!(peak > 0)) return;
    const float e = static_cast<float>(1 / gamma);
    const float f = static_cast<float>(luminosity * 255);
    for (std::int32_t y = first; y < last; ++y) {
        const float* row = density.data() + static_cast<std::size_t>(y) * imageWidth;
        std::uint8_t* px = imageRow(y);
        for (std::int32_t x = 0; x < imageWidth; ++x, px += 3) {
            const float c = row[x];
            std::uint8_t g = 0;
            if (c > 0) {
                const float level = gasLevel(c, peak, e, f);
                // Only a positive level converts: a NaN (0 times an infinite brightness) or a
                // negative brightness would be an undefined conversion, and both are black.
                if (level > 0)
                    g = static_cast<std::uint8_t>(static_cast<int>(std::min(level, 255.0f)));
            }
            px[0] = px[1] = px[2] = g;
        }
    }
}

void TBitmap3D_Gas::buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                                std::int32_t last) {
    if (!(peak > 0)) {
        TBitmap3D::buildRows16(out, rowStride, first, last);
        return;
    }
    // buildRows' levels, before their truncation to bytes.
    const float e = static_cast<float>(1 / gamma);
    const float f = static_cast<float>(luminosity * 255);
    for (std::int32_t y = first; y < last; ++y) {
        const float* row = density.data() + static_cast<std::size_t>(y) * imageWidth;
        std::uint16_t* o = out + (imageHeight - 1 - y) * rowStride;
        for (std::int32_t x = 0; x < imageWidth; ++x, o += 4) {
            const float c = row[x];
            const std::uint16_t g =
                c > 0 ? deepLevel(std::min(gasLevel(c, peak, e, f), 255.0f)) : 0;
            o[0] = o[1] = o[2] = g;
            o[3] = 65535;
        }
    }
}

TBitmap3D_Liquid::TBitmap3D_Liquid() {
    mode = static_cast<std::uint8_t>(RenderMode::Liquid);
}

TBitmap3D_Liquid::TBitmap3D_Liquid(const TBitmap3D& source, ModeSwitch tag)
    : TBitmap3D_Gas(source, tag) {
    mode = static_cast<std::uint8_t>(RenderMode::Liquid);
}

void TBitmap3D_Liquid::AllocateBuffers() {
    TBitmap3D_Gas::AllocateBuffers();
    surface.assign(static_cast<std::size_t>(pixelCount), 1.0f);
}

void TBitmap3D_Liquid::ClearImage() {
    TBitmap3D_Gas::ClearImage();
    std::fill(surface.begin(), surface.end(), 1.0f);
}

void TBitmap3D_Liquid::PlotBlock(const Vecd* points, std::int32_t n) {
#if defined(__SSE2__)
    const SurfaceTest4 test(depthRange, scale);
    if (test.signOfDifference)
        plotBlockWith<true>(test, points, n);
    else
        plotBlockWith<false>(test, points, n);
#else
    plotInChunks<true>(points, n, [this](const Vecd& pixel) { splatLiquid(pixel); });
#endif
}

#if defined(__SSE2__)
template <bool kSignOfDifference>
void TBitmap3D_Liquid::plotBlockWith(const SurfaceTest4& test, const Vecd* points, std::int32_t n) {
    // Each chunk is projected, and its cells, weights and depths computed, ahead of the
    // splats; the splats themselves then run one after the other in point order (a point
    // before its mirror image), since each may move the surface the next one meets.
    float* const dens = density.data();
    float* const front = surface.data();
    const std::int32_t row = imageWidth;
    constexpr std::int32_t kAhead = 8;
    static_assert(kAhead <= SplatCells::kSpare);
    SplatCells cells;
    for (std::int32_t start = 0; start < n; start += kSplatChunk) {
        projectSplatCells<true>(*this, points + start, std::min(kSplatChunk, n - start), cells);
        // The rows a splat a few places on will read, asked for ahead: the two buffers of an
        // image far larger than the cache are read at each orbit's whim.
        for (std::int32_t k = cells.count; k < cells.count + kAhead; ++k)
            cells.index[k] = cells.count > 0 ? cells.index[cells.count - 1] : 0;
        for (std::int32_t c = 0; c < cells.count; ++c) {
            const std::int32_t next = cells.index[c + kAhead];
            __builtin_prefetch(front + next, 1, 3);
            __builtin_prefetch(front + next + row, 1, 3);
            __builtin_prefetch(dens + next, 1, 3);
            __builtin_prefetch(dens + next + row, 1, 3);
            const std::int32_t at = cells.index[c];
            const __m128 w = _mm_load_ps(cells.weight[c]);
            const __m128 m = test.test<kSignOfDifference>(front + at, front + at + row, w,
                                                          _mm_set1_ps(cells.depth[c]));
            // density += w * m where the coverage is above 0; the other lanes keep their bits.
            float* const d0 = dens + at;
            float* const d1 = d0 + row;
            const __m128 before = SurfaceTest4::load4(d0, d1);
            const __m128 counts = _mm_cmpgt_ps(m, _mm_setzero_ps());
            const __m128 added = _mm_add_ps(before, _mm_mul_ps(w, m));
            const __m128 after =
                _mm_or_ps(_mm_and_ps(counts, added), _mm_andnot_ps(counts, before));
            _mm_storel_pi(reinterpret_cast<__m64*>(d0), after);
            _mm_storeh_pi(reinterpret_cast<__m64*>(d1), after);
        }
    }
}
#endif

}  // namespace qm
