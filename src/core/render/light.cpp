#include "core/render/light.h"

#include <algorithm>
#include <cmath>

#include "core/math/cr_exp_log.h"
#include "core/render/gas.h"
#include "core/render/splat_cells.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace qm {

#if defined(__SSE2__)
namespace detail {

// The operations of TBitmap3D_Light::turnsSse2, four lanes wide.
QM_TARGET_AVX2 void lightTurnsAvx2(const Vecd* q, std::int32_t count, double speedMin,
                                   double speedRange, double cosMin, double cosRange,
                                   double* speedAt, double* cosineAt) {
    static_assert(sizeof(Vecd) == 3 * sizeof(double));
    constexpr std::int32_t kSteps = turnSteps(TBitmap3D::kSplatChunk);
    alignas(32) double unitX[kSteps], unitY[kSteps], unitZ[kSteps], length[kSteps];
    alignas(32) double backX[kSteps], backY[kSteps], backZ[kSteps];
    const std::int32_t steps = turnSteps(count);
    const __m256d zero = _mm256_setzero_pd(), signBit = _mm256_set1_pd(-0.0);
    for (std::int32_t m = 0; m < steps; m += 4) {
        // Steps m to m + 3 as the twelve differences of consecutive coordinates, three
        // registers of them, then rearranged by coordinate.
        const double* a = &q[m].x;
        const __m256d d0 = _mm256_sub_pd(_mm256_loadu_pd(a + 3), _mm256_loadu_pd(a));
        const __m256d d1 = _mm256_sub_pd(_mm256_loadu_pd(a + 7), _mm256_loadu_pd(a + 4));
        const __m256d d2 = _mm256_sub_pd(_mm256_loadu_pd(a + 11), _mm256_loadu_pd(a + 8));
        const __m256d xy02 = _mm256_blend_pd(d0, d1, 0b1100);       // x0 y0 x2 y2
        const __m256d zx13 = _mm256_permute2f128_pd(d0, d2, 0x21);  // z0 x1 z2 x3
        const __m256d yz13 = _mm256_blend_pd(d1, d2, 0b1100);       // y1 z1 y3 z3
        const __m256d x = _mm256_blend_pd(xy02, zx13, 0b1010);
        const __m256d y = _mm256_shuffle_pd(xy02, yz13, 0b0101);
        const __m256d z = _mm256_blend_pd(zx13, yz13, 0b1010);
        const __m256d len = _mm256_sqrt_pd(_mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(x, x), _mm256_mul_pd(y, y)), _mm256_mul_pd(z, z)));
        // A zero length leaves its vector unnormalised; the reverse of a zero difference is +0.
        const __m256d keep = _mm256_cmp_pd(len, zero, _CMP_EQ_OQ);
        const __m256d ux = _mm256_blendv_pd(_mm256_div_pd(x, len), x, keep);
        const __m256d uy = _mm256_blendv_pd(_mm256_div_pd(y, len), y, keep);
        const __m256d uz = _mm256_blendv_pd(_mm256_div_pd(z, len), z, keep);
        _mm256_store_pd(unitX + m, ux);
        _mm256_store_pd(unitY + m, uy);
        _mm256_store_pd(unitZ + m, uz);
        _mm256_store_pd(length + m, len);
        _mm256_store_pd(backX + m, _mm256_andnot_pd(_mm256_cmp_pd(x, zero, _CMP_EQ_OQ),
                                                    _mm256_xor_pd(ux, signBit)));
        _mm256_store_pd(backY + m, _mm256_andnot_pd(_mm256_cmp_pd(y, zero, _CMP_EQ_OQ),
                                                    _mm256_xor_pd(uy, signBit)));
        _mm256_store_pd(backZ + m, _mm256_andnot_pd(_mm256_cmp_pd(z, zero, _CMP_EQ_OQ),
                                                    _mm256_xor_pd(uz, signBit)));
    }
    const __m256d speedLow = _mm256_set1_pd(speedMin), speedSpan = _mm256_set1_pd(speedRange);
    const __m256d cosLow = _mm256_set1_pd(cosMin), cosSpan = _mm256_set1_pd(cosRange);
    for (std::int32_t i = 0; i < count; i += 4) {
        const __m256d cosine = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(backX + i), _mm256_loadu_pd(unitX + i + 1)),
                          _mm256_mul_pd(_mm256_load_pd(backY + i), _mm256_loadu_pd(unitY + i + 1))),
            _mm256_mul_pd(_mm256_load_pd(backZ + i), _mm256_loadu_pd(unitZ + i + 1)));
        _mm256_storeu_pd(
            speedAt + i,
            _mm256_div_pd(_mm256_sub_pd(_mm256_loadu_pd(length + i + 1), speedLow), speedSpan));
        _mm256_storeu_pd(cosineAt + i, _mm256_div_pd(_mm256_sub_pd(cosine, cosLow), cosSpan));
    }
}

}  // namespace detail
#endif

TBitmap3D_Light::TBitmap3D_Light() {
    SetDefaults();
}

TBitmap3D_Light::TBitmap3D_Light(const TBitmap3D& source, ModeSwitch tag) : TBitmap3D(source, tag) {
    if (const auto* same = dynamic_cast<const TBitmap3D_Light*>(&source)) {
        speedMin = same->speedMin;
        speedMax = same->speedMax;
        speedRange = same->speedRange;
        cosMin = same->cosMin;
        cosMax = same->cosMax;
        cosRange = same->cosRange;
        gamma = same->gamma;
        luminosity = same->luminosity;
        SetBackgroundColor(source.backgroundColor);
        SetPointColor(source.pointColor);
        speedGradient = same->speedGradient;
        angleGradient = same->angleGradient;
        mode = static_cast<std::uint8_t>(RenderMode::Light);
    } else {
        SetDefaults();
        // The ranges must exist before the first plot. The first buffered point is left out,
        // as the preview sampling leaves it out of its own scan.
        BeginScan(ScanKind::Plain);
        for (std::int32_t i = 1; i < previewSize; ++i)
            ScanPoint(previewPoints[static_cast<std::size_t>(i)]);
        EndScan();
    }
}

void TBitmap3D_Light::SetDefaults() {
    mode = static_cast<std::uint8_t>(RenderMode::Light);
    gamma = 2.0;
    luminosity = 4.0;
    SetBackgroundColor({0, 0, 0});
    SetPointColor({1, 1, 1});
}

void TBitmap3D_Light::AllocateBuffers() {
    TBitmap3D::AllocateBuffers();
    lightBuffer.assign(static_cast<std::size_t>(pixelCount), ColorRGBf{0, 0, 0});
}

void TBitmap3D_Light::findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const {
    const auto from = static_cast<std::size_t>(partStart(part, parts, imageHeight)) * imageWidth;
    const auto to = static_cast<std::size_t>(partStart(part + 1, parts, imageHeight)) * imageWidth;
    // Comparisons written as "greater than" so that a NaN channel never becomes the peak.
    float p = 0;
    for (std::size_t i = from; i < to; ++i) {
        const ColorRGBf& c = lightBuffer[i];
        if (c.r > p) p = c.r;
        if (c.g > p) p = c.g;
        if (c.b > p) p = c.b;
    }
    peaks[0] = p;
}

void TBitmap3D_Light::preparePeaks(const float* peaks, std::int32_t parts) {
    peak = 0;
    for (std::int32_t i = 0; i < parts; ++i)
        if (peaks[i] > peak) peak = peaks[i];
    foundPeak = peak;
    if (fixedPeak > 0 && peak > 0) peak = fixedPeak;
}

void TBitmap3D_Light::ClearImage() {
    TBitmap3D::ClearImage();
    before = last = {0, 0, 0};
    peak = 0;
    const ColorRGBf start{backgroundColor.r * 255.0f, backgroundColor.g * 255.0f,
                          backgroundColor.b * 255.0f};
    std::fill(lightBuffer.begin(), lightBuffer.end(), start);
}

void TBitmap3D_Light::BeginScan(ScanKind kind) {
    TBitmap3D::BeginScan(kind);
    before = last = {0, 0, 0};
    speedMin = cosMin = kMaxDouble;
    speedMax = cosMax = -kMaxDouble;
    speedRange = cosRange = 0;
}

void TBitmap3D_Light::ScanPoint(const Vecd& p) {
    if (scanKind != ScanKind::Plain) TBitmap3D::ScanPoint(p);
    // Statistics: the first two points of a scan only fill the memory.
    if (isSet(before)) {
        double speed, cosine;
        orbitTurn(before, last, p, speed, cosine);
        speedMin = std::min(speedMin, speed);
        speedMax = std::max(speedMax, speed);
        cosMin = std::min(cosMin, cosine);
        cosMax = std::max(cosMax, cosine);
    }
    before = last;
    last = p;
}

void TBitmap3D_Light::EndScan() {
    // Reset first: the base projects the scan centre through ProjectPoint, which must find no
    // previous point and so project the centre itself.
    last = {0, 0, 0};
    TBitmap3D::EndScan();
    speedRange = speedMax - speedMin;
    cosRange = cosMax - cosMin;
}

QM_HOT_INLINE void TBitmap3D_Light::plotBlockWith(const Vecd* points, std::int32_t n) {
    ColorRGBf* const buffer = lightBuffer.data();
    const std::int32_t row = imageWidth;
    const SplatLimits limits(imageWidth, imageHeight);
    plotLit<false>(
        points, n,
        [&](const Vecd& px, const ColorRGBf& c) {
            Splat s;
            if (!splatCell(px.x, px.y, limits, s)) return;
            ColorRGBf* q = buffer + s.index;
#if defined(__SSE2__)
            // Each product colour x weight is rounded to float before it is added. A cell is
            // read and written as 8 + 4 bytes: the next splat, which often shares cells with
            // this one, then finds each of its loads within one store of this splat and has
            // it forwarded, where wider accesses spanning two cells would wait for the cache.
            const __m128 colour = _mm_setr_ps(c.r, c.g, c.b, 0.0f);
            const auto add = [&colour](ColorRGBf& cell, float w) QM_HOT_LAMBDA {
                const __m128 old = _mm_movelh_ps(
                    _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&cell.r))),
                    _mm_load_ss(&cell.b));
                const __m128 sum = _mm_add_ps(old, _mm_mul_ps(colour, _mm_set1_ps(w)));
                _mm_storel_pi(reinterpret_cast<__m64*>(&cell.r), sum);
                _mm_store_ss(&cell.b, _mm_movehl_ps(sum, sum));
            };
#else
            // Each product colour x weight is rounded to float before it is added.
            const auto add = [&c](ColorRGBf& cell, float w) {
                cell.r += c.r * w;
                cell.g += c.g * w;
                cell.b += c.b * w;
            };
#endif
            add(q[0], s.w00);
            add(q[1], s.w10);
            add(q[row], s.w01);
            add(q[row + 1], s.w11);
        },
        [this, buffer](const Vecd& px) { prefetchSplat(buffer, sizeof(ColorRGBf), px); });
}

void TBitmap3D_Light::PlotBlock(const Vecd* points, std::int32_t n) {
    if (detail::avx2Lanes())
        plotBlockAvx2(points, n);
    else
        plotBlockSse2(points, n);
}

void TBitmap3D_Light::plotBlockSse2(const Vecd* points, std::int32_t n) {
    plotBlockWith(points, n);
}

QM_TARGET_AVX2 void TBitmap3D_Light::plotBlockAvx2(const Vecd* points, std::int32_t n) {
    plotBlockWith(points, n);
}

void TBitmap3D_Light::ProjectPoint(const Vecd& p, Vecd& out) {
    out = project(advance(p));
}

namespace {

// A channel normalised by the peak and raised to e (pow in double on the float operands,
// rounded to float), then brightened by f in float: the level before its truncation.
float toneLevel(float c, float peak, float e, float f) {
    float v = c / peak;
    if (e > 0) v = v > 0 ? crm::powFloat(static_cast<double>(v), static_cast<double>(e)) : 0.0f;
    return v * f;
}

// One channel of the developed image: toneLevel clamped and truncated.
std::uint8_t toneByte(float c, float peak, float e, float f) {
    const float v = toneLevel(c, peak, e, f);
    if (!(v > 0)) return 0;
    return static_cast<std::uint8_t>(static_cast<int>(std::min(v, 255.0f)));
}

// toneByte's level before the truncation, as a 16-bit channel.
std::uint16_t toneDeep(float c, float peak, float e, float f) {
    const float v = toneLevel(c, peak, e, f);
    if (!(v > 0)) return 0;
    return TBitmap3D::deepLevel(std::min(v, 255.0f));
}

}  // namespace

void TBitmap3D_Light::buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                                  std::int32_t last) {
    if (!(peak > 0)) {
        TBitmap3D::buildRows16(out, rowStride, first, last);
        return;
    }
    const float f = static_cast<float>(luminosity * 255);
    const float e = static_cast<float>(1 / gamma);
    for (std::int32_t y = first; y < last; ++y) {
        const ColorRGBf* row = lightBuffer.data() + static_cast<std::size_t>(y) * imageWidth;
        std::uint16_t* o = out + (imageHeight - 1 - y) * rowStride;
        for (std::int32_t x = 0; x < imageWidth; ++x, o += 4) {
            const ColorRGBf& c = row[x];
            o[3] = 65535;
            if (!(c.r > 0 || c.g > 0 || c.b > 0)) {
                o[0] = o[1] = o[2] = 0;
                continue;
            }
            o[0] = toneDeep(c.r, peak, e, f);
            o[1] = toneDeep(c.g, peak, e, f);
            o[2] = toneDeep(c.b, peak, e, f);
        }
    }
}

void TBitmap3D_Light::buildRows(std::int32_t first, std::int32_t last) {
    if (!(peak > 0)) return;
    // Formed in double from the double members and rounded once to float.
    const float f = static_cast<float>(luminosity * 255);
    const float e = static_cast<float>(1 / gamma);
    for (std::int32_t y = first; y < last; ++y) {
        const ColorRGBf* row = lightBuffer.data() + static_cast<std::size_t>(y) * imageWidth;
        std::uint8_t* px = imageRow(y);
        for (std::int32_t x = 0; x < imageWidth; ++x, px += 3) {
            const ColorRGBf& c = row[x];
            if (!(c.r > 0 || c.g > 0 || c.b > 0)) {
                px[0] = px[1] = px[2] = 0;
                continue;
            }
            px[0] = toneByte(c.b, peak, e, f);
            px[1] = toneByte(c.g, peak, e, f);
            px[2] = toneByte(c.r, peak, e, f);
        }
    }
}

namespace {

// splatBehindSurface with the Plasma colour: the depth test of the four pixels at once
// (SurfaceTest4), then the light of each pixel whose coverage is above 0, colour x weight
// rounded to float before the coverage applies. A pixel that takes no light gets -0 added,
// which changes nothing.
#if defined(__SSE2__)
// Lane q of v in every lane.
template <int q>
QM_HOT_INLINE __m128 lane(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(q, q, q, q));
}
#endif

template <bool kSignOfDifference>
struct PlasmaSplat {
    ColorRGBf* light;
    float* surface;
    std::int32_t row;
#if defined(__SSE2__)
    const SurfaceTest4& test;

    QM_HOT_INLINE void operator()(const Splat& s, float d, const ColorRGBf& colour) const {
        const __m128 w = _mm_setr_ps(s.w00, s.w10, s.w01, s.w11);
        const __m128 m = test.test<kSignOfDifference>(surface + s.index, surface + s.index + row, w,
                                                      _mm_set1_ps(d));
        const __m128 lit = _mm_cmpgt_ps(m, _mm_setzero_ps());
        const __m128 c = _mm_setr_ps(colour.r, colour.g, colour.b, 0.0f);
        const __m128 minusZero = _mm_set1_ps(-0.0f);
        const auto add = [&](std::int32_t at, __m128 wq, __m128 mq, __m128 use) {
            const __m128 product = _mm_mul_ps(_mm_mul_ps(c, wq), mq);
            const __m128 added = _mm_or_ps(_mm_and_ps(use, product), _mm_andnot_ps(use, minusZero));
            ColorRGBf& cell = light[at];
            const __m128 old = _mm_movelh_ps(
                _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&cell.r))),
                _mm_load_ss(&cell.b));
            const __m128 sum = _mm_add_ps(old, added);
            _mm_storel_pi(reinterpret_cast<__m64*>(&cell.r), sum);
            _mm_store_ss(&cell.b, _mm_movehl_ps(sum, sum));
        };
        add(s.index, lane<0>(w), lane<0>(m), lane<0>(lit));
        add(s.index + 1, lane<1>(w), lane<1>(m), lane<1>(lit));
        add(s.index + row, lane<2>(w), lane<2>(m), lane<2>(lit));
        add(s.index + row + 1, lane<3>(w), lane<3>(m), lane<3>(lit));
    }
#else
    double depthRange, scale;

    QM_HOT_INLINE void operator()(const Splat& s, float d, const ColorRGBf& colour) const {
        const float w[4] = {s.w00, s.w10, s.w01, s.w11};
        const std::int32_t at[4] = {s.index, s.index + 1, s.index + row, s.index + row + 1};
        for (int q = 0; q < 4; ++q) {
            const float m = surfaceCoverage(surface[at[q]], d, w[q], depthRange, scale);
            if (!(m > 0)) continue;
            ColorRGBf& cell = light[at[q]];
            cell.r += colour.r * w[q] * m;
            cell.g += colour.g * w[q] * m;
            cell.b += colour.b * w[q] * m;
        }
    }
#endif
};

}  // namespace

TBitmap3D_Plasma::TBitmap3D_Plasma() {
    mode = static_cast<std::uint8_t>(RenderMode::Plasma);
}

TBitmap3D_Plasma::TBitmap3D_Plasma(const TBitmap3D& source, ModeSwitch tag)
    : TBitmap3D_Light(source, tag) {
    mode = static_cast<std::uint8_t>(RenderMode::Plasma);
}

void TBitmap3D_Plasma::SetDefaults() {
    TBitmap3D_Light::SetDefaults();
    mode = static_cast<std::uint8_t>(RenderMode::Plasma);
}

void TBitmap3D_Plasma::AllocateBuffers() {
    TBitmap3D_Light::AllocateBuffers();
    surface.assign(static_cast<std::size_t>(pixelCount), 1.0f);
}

void TBitmap3D_Plasma::ClearImage() {
    TBitmap3D_Light::ClearImage();
    std::fill(surface.begin(), surface.end(), 1.0f);
}

QM_HOT_INLINE void TBitmap3D_Plasma::plotBlockWith(const Vecd* points, std::int32_t n) {
    const SplatLimits limits(imageWidth, imageHeight);
    const auto plot = [&](const auto& splat) {
        plotLit<true>(
            points, n,
            [&limits, &splat](const Vecd& px, const ColorRGBf& c) {
                Splat s;
                if (splatCell(px.x, px.y, limits, s)) splat(s, static_cast<float>(px.z), c);
            },
            [this](const Vecd& px) {
                prefetchSplat(lightBuffer.data(), sizeof(ColorRGBf), px);
                prefetchSplat(surface.data(), sizeof(float), px);
            });
    };
#if defined(__SSE2__)
    const SurfaceTest4 test(depthRange, scale);
    if (test.signOfDifference)
        plot(PlasmaSplat<true>{lightBuffer.data(), surface.data(), imageWidth, test});
    else
        plot(PlasmaSplat<false>{lightBuffer.data(), surface.data(), imageWidth, test});
#else
    plot(PlasmaSplat<false>{lightBuffer.data(), surface.data(), imageWidth, depthRange, scale});
#endif
}

void TBitmap3D_Plasma::PlotBlock(const Vecd* points, std::int32_t n) {
    if (detail::avx2Lanes())
        plotBlockAvx2(points, n);
    else
        plotBlockSse2(points, n);
}

void TBitmap3D_Plasma::plotBlockSse2(const Vecd* points, std::int32_t n) {
    plotBlockWith(points, n);
}

QM_TARGET_AVX2 void TBitmap3D_Plasma::plotBlockAvx2(const Vecd* points, std::int32_t n) {
    plotBlockWith(points, n);
}

}  // namespace qm
