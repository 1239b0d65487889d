// The coloured light modes. Light ("Lumière") colours every point by how the orbit moves
// there: the speed gradient at the step that leaves it plus the angle gradient at the turn it
// makes, added into an RGB light buffer and developed by the brightest channel. Plasma adds
// the depth surface of Liquid, so that hidden points give no light.
//
// Points must arrive in orbit order: each point is drawn one call late, once its successor is
// known. The speed and cosine ranges come from a statistics scan over the preview points
// (BeginScan, ScanPoint, EndScan), which this family runs even for a plain scan.
#pragma once

#include "core/hot_path.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/render/bitmap3d.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

class TBitmap3D_Light : public TBitmap3D {
public:
    TBitmap3D_Light();
    // From a Light or Plasma source: its ranges, tone parameters, colours and gradients. From
    // any other mode: the defaults and a statistics scan over preview points 1 to 19,999.
    TBitmap3D_Light(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void FindPeak() override;
    void ClearImage() override;
    void BeginScan(ScanKind kind) override;
    // The base bounds only for a fit or centre scan; the speed and cosine statistics always.
    void ScanPoint(const Vecd& p) override;
    void EndScan() override;
    void PlotPoint(const Vecd& p) override { plotLight(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    // The pixel coordinates of the point PlotPoint(p) would draw; advances the orbit memory
    // and plotColor as PlotPoint does, without touching the buffer.
    void ProjectPoint(const Vecd& p, Vecd& out) override;
    void BuildImage() override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    void captureOrbitMemory(StreamState& record) const override;
    void restoreOrbitMemory(const StreamState& record) override;
    void BuildImage16(std::uint16_t* out, std::ptrdiff_t rowStride) override;

    double speedMin = 0;
    double speedMax = 0;
    double speedRange = 0;
    double cosMin = 0;
    double cosMax = 0;
    double cosRange = 0;
    // The orbit memory; (0, 0, 0) stands for "no point".
    Vecd before{0, 0, 0};
    Vecd last{0, 0, 0};
    std::vector<ColorRGBf> lightBuffer;
    // Filled by the owner after construction (loadDefaultGradients); copied by a mode switch
    // within the family.
    Gradientf speedGradient;
    Gradientf angleGradient;
    ColorRGBf plotColor{0, 0, 0};
    float peak = 0;
    double luminosity = 4.0;
    double gamma = 2.0;

protected:
    static bool isSet(const Vecd& p) { return p.x != 0 || p.y != 0 || p.z != 0; }

    // The speed |c - b| and the cosine of the angle at b between the directions to a and to c.
    // A zero direction is left unnormalised, so a repeated point gives speed 0 and cosine 0.
    static void orbitTurn(const Vecd& a, const Vecd& b, const Vecd& c, double& speed,
                          double& cosine) {
        Vecd u = a - b;
        Vecd v = c - b;
        const double lengthU = std::sqrt(dot(u, u));
        speed = std::sqrt(dot(v, v));
        if (lengthU != 0) u = {u.x / lengthU, u.y / lengthU, u.z / lengthU};
        if (speed != 0) v = {v.x / speed, v.y / speed, v.z / speed};
        cosine = dot(u, v);
    }

    // orbitTurn's speed and cosine as positions on the gradients, (speed - speedMin) / speedRange
    // and (cosine - cosMin) / cosRange: the same operations on the same values, with the
    // divisions and roots two at a time (u's and v's lanes side by side).
    QM_HOT_INLINE void turnPositions(const Vecd& a, const Vecd& b, const Vecd& c, double& speedAt,
                                     double& cosineAt) const {
#if defined(__SSE2__)
        const __m128d bxy = _mm_loadu_pd(&b.x);
        const __m128d uxy = _mm_sub_pd(_mm_loadu_pd(&a.x), bxy);
        const __m128d vxy = _mm_sub_pd(_mm_loadu_pd(&c.x), bxy);
        const __m128d x = _mm_unpacklo_pd(uxy, vxy);  // (u.x, v.x)
        const __m128d y = _mm_unpackhi_pd(uxy, vxy);  // (u.y, v.y)
        const __m128d z = _mm_sub_pd(_mm_set_pd(c.z, a.z), _mm_set1_pd(b.z));
        // (|u|, |v|), each sum left to right as dot() forms it.
        const __m128d length = _mm_sqrt_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z)));
        // A zero length leaves its vector unnormalised.
        const __m128d keep = _mm_cmpeq_pd(length, _mm_setzero_pd());
        const auto unit = [&keep, &length](__m128d w) {
            return _mm_or_pd(_mm_and_pd(keep, w), _mm_andnot_pd(keep, _mm_div_pd(w, length)));
        };
        const __m128d ux = unit(x), uy = unit(y), uz = unit(z);
        // Lane 0: u.x * v.x and so on.
        const __m128d px = _mm_mul_pd(ux, _mm_unpackhi_pd(ux, ux));
        const __m128d py = _mm_mul_pd(uy, _mm_unpackhi_pd(uy, uy));
        const __m128d pz = _mm_mul_pd(uz, _mm_unpackhi_pd(uz, uz));
        const __m128d cosine = _mm_add_sd(_mm_add_sd(px, py), pz);
        // (speed, cosine) to positions.
        const __m128d turn = _mm_unpacklo_pd(_mm_unpackhi_pd(length, length), cosine);
        const __m128d at = _mm_div_pd(_mm_sub_pd(turn, _mm_set_pd(cosMin, speedMin)),
                                      _mm_set_pd(cosRange, speedRange));
        speedAt = _mm_cvtsd_f64(at);
        cosineAt = _mm_cvtsd_f64(_mm_unpackhi_pd(at, at));
#else
        double speed, cosine;
        orbitTurn(a, b, c, speed, cosine);
        speedAt = (speed - speedMin) / speedRange;
        cosineAt = (cosine - cosMin) / cosRange;
#endif
    }

    // Takes p into the orbit memory and returns the point to draw now: the previous point,
    // coloured by the step to p and the turn it makes (plotColor), or p itself in the colour
    // left by the last plot when there is no previous point.
    QM_HOT_INLINE Vecd advance(const Vecd& p) {
        return advanceWith(before, last, plotColor, p);
    }

public:
    // advance on a memory held elsewhere (a stream of the parallel render): the target only
    // lends its ranges and gradients, so threads may call this at once for different memories.
    QM_HOT_INLINE Vecd advanceWith(Vecd& memBefore, Vecd& memLast, ColorRGBf& color,
                                   const Vecd& p) const {
        Vecd plotted = p;
        if (isSet(memLast)) {
            plotted = memLast;
            double speed, cosine;
            orbitTurn(memBefore, memLast, p, speed, cosine);
            const ColorRGBf s = speedGradient.ColorAt((speed - speedMin) / speedRange);
            const ColorRGBf a = angleGradient.ColorAt((cosine - cosMin) / cosRange);
            color = {s.r + a.r, s.g + a.g, s.b + a.b};
        }
        memBefore = memLast;
        memLast = p;
        return plotted;
    }

    // advanceWith over a chunk of at most kSplatChunk points: the points to draw go to plotted
    // and their colours to colours, and the memory is carried through. The turns of the whole
    // chunk are measured before any is coloured, so that the divisions and roots of successive
    // points overlap instead of waiting behind each other's gradient lookups.
    QM_HOT_INLINE void colourChunk(Vecd& memBefore, Vecd& memLast, ColorRGBf& color, const Vecd* p,
                                   std::int32_t count, Vecd* plotted, ColorRGBf* colours) const {
        double speedAt[kSplatChunk], cosineAt[kSplatChunk];
        bool turned[kSplatChunk];
        Vecd b = memBefore, l = memLast;
        for (std::int32_t i = 0; i < count; ++i) {
            const bool set = isSet(l);
            turned[i] = set;
            plotted[i] = set ? l : p[i];
            if (set) [[likely]]
                turnPositions(b, l, p[i], speedAt[i], cosineAt[i]);
            b = l;
            l = p[i];
        }
        ColorRGBf c = color;
        for (std::int32_t i = 0; i < count; ++i) {
            if (turned[i]) [[likely]] {
                const ColorRGBf s = speedGradient.ColorAt(speedAt[i]);
                const ColorRGBf a = angleGradient.ColorAt(cosineAt[i]);
                c = {s.r + a.r, s.g + a.g, s.b + a.b};
            }
            colours[i] = c;
        }
        color = c;
        memBefore = b;
        memLast = l;
    }

protected:
    QM_HOT_INLINE void plotLight(const Vecd& p) {
        const Vecd q = advance(p);
        splatLight(project(q));
        if (mirror) splatLight(project({q.x, q.y, -q.z}));
    }

    QM_HOT_INLINE void splatLight(const Vecd& pixel) {
        Splat s;
        if (!splatCell(pixel, s)) return;
        ColorRGBf* c = lightBuffer.data() + s.index;
        addLight(c[0], s.w00);
        addLight(c[1], s.w10);
        addLight(c[imageWidth], s.w01);
        addLight(c[imageWidth + 1], s.w11);
    }

    // Each product colour x weight is rounded to float before it is added.
    QM_HOT_INLINE void addLight(ColorRGBf& c, float w) const {
        addLight(c, plotColor, w);
    }
    QM_HOT_INLINE static void addLight(ColorRGBf& c, const ColorRGBf& colour, float w) {
        c.r += colour.r * w;
        c.g += colour.g * w;
        c.b += colour.b * w;
    }
};

class TBitmap3D_Plasma final : public TBitmap3D_Light {
public:
    TBitmap3D_Plasma();
    TBitmap3D_Plasma(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { plotPlasma(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;

    // Depth of the front surface built so far per pixel, 0 near to 1 far.
    std::vector<float> surface;

private:
    QM_HOT_INLINE void plotPlasma(const Vecd& p) {
        const Vecd q = advance(p);
        splatPlasma(project(q));
        if (mirror) splatPlasma(project({q.x, q.y, -q.z}));
    }
    QM_HOT_INLINE void splatPlasma(const Vecd& pixel);
};

QM_HOT_INLINE void TBitmap3D_Plasma::splatPlasma(const Vecd& pixel) {
    splatBehindSurface(pixel, surface.data(), [this](std::size_t at, float w, float m) {
        // colour x weight is rounded to float before the coverage factor applies.
        ColorRGBf& c = lightBuffer[at];
        c.r += plotColor.r * w * m;
        c.g += plotColor.g * w * m;
        c.b += plotColor.b * w * m;
    });
}

}  // namespace qm
