#include "core/render/light.h"

#include <algorithm>
#include <cmath>

#include "core/math/cr_exp_log.h"
#include "core/render/gas.h"
#include "core/render/splat_cells.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

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

void TBitmap3D_Light::PlotBlock(const Vecd* points, std::int32_t n) {
    ColorRGBf* const buffer = lightBuffer.data();
    const std::int32_t row = imageWidth;
    const SplatLimits limits(imageWidth, imageHeight);
    // Each product colour x weight is rounded to float before it is added.
    const auto add = [](ColorRGBf& c, const ColorRGBf& colour, float w) {
        c.r += colour.r * w;
        c.g += colour.g * w;
        c.b += colour.b * w;
    };
    plotLit<false>(
        points, n,
        [&](const Vecd& px, const ColorRGBf& c) {
            Splat s;
            if (!splatCell(px.x, px.y, limits, s)) return;
            ColorRGBf* q = buffer + s.index;
            add(q[0], c, s.w00);
            add(q[1], c, s.w10);
            add(q[row], c, s.w01);
            add(q[row + 1], c, s.w11);
        },
        [this, buffer](const Vecd& px) { prefetchSplat(buffer, sizeof(ColorRGBf), px); });
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

void TBitmap3D_Plasma::PlotBlock(const Vecd* points, std::int32_t n) {
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

}  // namespace qm
