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
#include "core/simd_lanes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

namespace detail {

// The steps q[m + 1] - q[m] (m < turnSteps(count)) that TBitmap3D_Light::colourChunk's vector
// paths measure for count points: a multiple of four, beyond the last turn's second step
// (count) by up to seven, and the size of its array of points.
constexpr std::int32_t turnSteps(std::int32_t count) {
    return ((count + 3) & ~3) + 4;
}
inline constexpr std::int32_t kTurnPoints = turnSteps(TBitmap3D::kSplatChunk) + 1;

// colourChunk's positions on the gradients, four steps and four turns at a time in AVX2 lanes
// (run only where detail::avx2Lanes()): from the points q[0 .. turnSteps(count)], the speed
// position (|q[i + 2] - q[i + 1]| - speedMin) / speedRange into speedAt[i] and the turn's
// into cosineAt[i], for i < count rounded up to four.
void lightTurnsAvx2(const Vecd* q, std::int32_t count, double speedMin, double speedRange,
                    double cosMin, double cosRange, double* speedAt, double* cosineAt);

}  // namespace detail

class TBitmap3D_Light : public TBitmap3D {
public:
    TBitmap3D_Light();
    // From a Light or Plasma source: its ranges, tone parameters, colours and gradients. From
    // any other mode: the defaults and a statistics scan over preview points 1 to 19,999.
    TBitmap3D_Light(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void ClearImage() override;
    void BeginScan(ScanKind kind) override;
    // The base bounds only for a fit or centre scan; the speed and cosine statistics always.
    void ScanPoint(const Vecd& p) override;
    void EndScan() override;
    void PlotPoint(const Vecd& p) override { TBitmap3D_Light::PlotBlock(&p, 1); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    // The pixel coordinates of the point PlotPoint(p) would draw; advances the orbit memory
    // and plotColor as PlotPoint does, without touching the buffer.
    void ProjectPoint(const Vecd& p, Vecd& out) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    void captureOrbitMemory(StreamState& record) const override;
    void restoreOrbitMemory(const StreamState& record) override;
    void findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const override;
    void preparePeaks(const float* peaks, std::int32_t parts) override;
    void buildRows(std::int32_t first, std::int32_t last) override;
    void buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                     std::int32_t last) override;

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

    // Takes p into the orbit memory and returns the point to draw now: the previous point,
    // coloured by the step to p and the turn it makes (plotColor), or p itself in the colour
    // left by the last plot when there is no previous point.
    QM_HOT_INLINE Vecd advance(const Vecd& p) { return advanceWith(before, last, plotColor, p); }

public:
    // advance on a memory held elsewhere (a stream of the parallel render): the target only
    // lends its ranges and gradients, so threads may call this at once for different memories.
    QM_HOT_INLINE Vecd advanceWith(Vecd& memBefore, Vecd& memLast, ColorRGBf& color,
                                   const Vecd& p) const {
        Vecd plotted;
        ColorRGBf colour;
        colourChunk(memBefore, memLast, color, &p, 1, &plotted, &colour);
        return plotted;
    }

    // advanceWith over a chunk of 1 to kSplatChunk points: the points to draw go to plotted
    // and their colours to colours, and the memory is carried through.
    //
    // The turn at a point b between its neighbours a and c (orbitTurn) normalises u = a - b and
    // v = c - b. The u of one point is the v of the point before it, negated: the same
    // difference of the same two points taken the other way round, which IEEE arithmetic gives
    // as the exact negation, except that a zero difference is +0 both ways. Its unit vector is
    // therefore the negated unit vector of that v (division commutes with negation), with +0
    // wherever the difference was 0, and its length is the same. So each step's difference is
    // normalised once, two steps at a time, and each turn takes a dot product of two stored
    // unit vectors. The only results that can differ from orbitTurn's are the signs of NaNs,
    // which ColorAt treats alike. Then the positions on the gradients, two points at a time,
    // and then the colours, both gradients of a point at once (sumOfColorsAt).
    QM_HOT_INLINE void colourChunk(Vecd& memBefore, Vecd& memLast, ColorRGBf& color, const Vecd* p,
                                   std::int32_t count, Vecd* plotted, ColorRGBf* colours) const {
        // q: the memory, the points, then the last point again up to as many steps as the
        // vector paths take (detail::turnSteps).
        Vecd q[detail::kTurnPoints];
        q[0] = memBefore;
        q[1] = memLast;
        for (std::int32_t i = 0; i < count; ++i) q[i + 2] = p[i];
        const std::int32_t filled = detail::turnSteps(count) + 1;
        for (std::int32_t m = count + 2; m < filled; ++m) q[m] = p[count - 1];
        double speedAt[kSplatChunk + 4], cosineAt[kSplatChunk + 4];
#if defined(__SSE2__)
        if (detail::avx2Lanes()) {
            detail::lightTurnsAvx2(q, count, speedMin, speedRange, cosMin, cosRange, speedAt,
                                   cosineAt);
        } else {
            turnsSse2(q, count, speedAt, cosineAt);
        }
#else
        for (std::int32_t i = 0; i < count; ++i) {
            double speed, cosine;
            orbitTurn(q[i], q[i + 1], q[i + 2], speed, cosine);
            speedAt[i] = (speed - speedMin) / speedRange;
            cosineAt[i] = (cosine - cosMin) / cosRange;
        }
#endif
        // The segments first, in a loop of their own: the table lookups of successive points
        // then overlap, and so do the mixes after them.
        const detail::GradientSegment* speedSegment[kSplatChunk + 1];
        const detail::GradientSegment* angleSegment[kSplatChunk + 1];
        const Gradientf::SegmentFinder speedSegmentAt = speedGradient.segmentFinder();
        const Gradientf::SegmentFinder angleSegmentAt = angleGradient.segmentFinder();
        for (std::int32_t i = 0; i < count; ++i) {
            speedSegment[i] = &speedSegmentAt(speedAt[i]);
            angleSegment[i] = &angleSegmentAt(cosineAt[i]);
        }
        // Then the colours: sumOfColorsAt's fast path, or ColorAt where that does not answer.
        // Without a previous point p itself is drawn, in the colour left before.
        ColorRGBf c = color;
        const auto finish = [&](auto&& fastSum) QM_HOT_LAMBDA {
            for (std::int32_t i = 0; i < count; ++i) {
                const bool turned = isSet(q[i + 1]);
                plotted[i] = turned ? q[i + 1] : q[i + 2];
                if (turned) [[likely]] {
                    if (!fastSum(i, c)) [[unlikely]]
                        c = detail::sumOfColorsAtSlowly(speedGradient, speedAt[i], angleGradient,
                                                        cosineAt[i]);
                }
                colours[i] = c;
            }
        };
#if defined(__SSE2__)
        if (detail::avx2Lanes()) {
            // Two points at a time; an odd count takes a copy of the first point's segments.
            ColorRGBf sums[kSplatChunk + 2];
            bool answered[kSplatChunk + 1];
            speedSegment[count] = speedSegment[0];
            angleSegment[count] = angleSegment[0];
            detail::sumsOfSegmentColoursAvx2(speedSegment, speedAt, angleSegment, cosineAt, count,
                                             sums, answered);
            finish([&](std::int32_t i, ColorRGBf& out) QM_HOT_LAMBDA {
                out = sums[i];
                return answered[i];
            });
        } else
#endif
        {
            finish([&](std::int32_t i, ColorRGBf& out) QM_HOT_LAMBDA {
                return detail::sumOfSegmentColours(*speedSegment[i], speedAt[i], *angleSegment[i],
                                                   cosineAt[i], out);
            });
        }
        color = c;
        memBefore = q[count];
        memLast = q[count + 1];
    }

protected:
#if defined(__SSE2__)
    // colourChunk's positions on the gradients, two steps and two turns at a time.
    QM_HOT_INLINE void turnsSse2(const Vecd* q, std::int32_t count, double* speedAt,
                                 double* cosineAt) const {
        constexpr std::int32_t kSteps = kSplatChunk + 2;
        const std::int32_t steps = (count + 3) & ~1;  // q[m + 1] - q[m] for m < steps
        // Per step m: its unit vector (unit*), its length, and the unit vector of its reverse
        // (back*).
        double unitX[kSteps], unitY[kSteps], unitZ[kSteps], length[kSteps];
        double backX[kSteps], backY[kSteps], backZ[kSteps];
        const __m128d zero = _mm_setzero_pd(), signBit = _mm_set1_pd(-0.0);
        for (std::int32_t m = 0; m < steps; m += 2) {
            const __m128d d0 = _mm_sub_pd(_mm_loadu_pd(&q[m + 1].x), _mm_loadu_pd(&q[m].x));
            const __m128d d1 = _mm_sub_pd(_mm_loadu_pd(&q[m + 2].x), _mm_loadu_pd(&q[m + 1].x));
            const __m128d x = _mm_unpacklo_pd(d0, d1);
            const __m128d y = _mm_unpackhi_pd(d0, d1);
            const __m128d z = _mm_sub_pd(_mm_loadh_pd(_mm_load_sd(&q[m + 1].z), &q[m + 2].z),
                                         _mm_loadh_pd(_mm_load_sd(&q[m].z), &q[m + 1].z));
            // Each sum left to right, as dot() forms it.
            const __m128d len = _mm_sqrt_pd(
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)), _mm_mul_pd(z, z)));
            // A zero length leaves its vector unnormalised.
            const __m128d keep = _mm_cmpeq_pd(len, zero);
            const auto unit = [&keep, &len](__m128d w) {
                return _mm_or_pd(_mm_and_pd(keep, w), _mm_andnot_pd(keep, _mm_div_pd(w, len)));
            };
            const auto back = [&zero, &signBit](__m128d w, __m128d u) {
                return _mm_andnot_pd(_mm_cmpeq_pd(w, zero), _mm_xor_pd(u, signBit));
            };
            const __m128d ux = unit(x), uy = unit(y), uz = unit(z);
            _mm_storeu_pd(unitX + m, ux);
            _mm_storeu_pd(unitY + m, uy);
            _mm_storeu_pd(unitZ + m, uz);
            _mm_storeu_pd(length + m, len);
            _mm_storeu_pd(backX + m, back(x, ux));
            _mm_storeu_pd(backY + m, back(y, uy));
            _mm_storeu_pd(backZ + m, back(z, uz));
        }
        // Point i turns from step i (reversed) to step i + 1.
        const __m128d speedLow = _mm_set1_pd(speedMin), speedSpan = _mm_set1_pd(speedRange);
        const __m128d cosLow = _mm_set1_pd(cosMin), cosSpan = _mm_set1_pd(cosRange);
        for (std::int32_t i = 0; i < count; i += 2) {
            const __m128d cosine = _mm_add_pd(
                _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(backX + i), _mm_loadu_pd(unitX + i + 1)),
                           _mm_mul_pd(_mm_loadu_pd(backY + i), _mm_loadu_pd(unitY + i + 1))),
                _mm_mul_pd(_mm_loadu_pd(backZ + i), _mm_loadu_pd(unitZ + i + 1)));
            _mm_storeu_pd(
                speedAt + i,
                _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(length + i + 1), speedLow), speedSpan));
            _mm_storeu_pd(cosineAt + i, _mm_div_pd(_mm_sub_pd(cosine, cosLow), cosSpan));
        }
    }
#endif

    // The plot of both modes, for one point as for a block: chunk by chunk, the colours, then
    // the projections (the mirror images too; the depth when kDepth), then
    // splat(pixel, colour) in point order, a point before its mirror image.
    template <bool kDepth, class SplatFn, class PrefetchFn>
    QM_HOT_INLINE void plotLit(const Vecd* points, std::int32_t n, SplatFn&& splat,
                               PrefetchFn&& prefetch) {
        // Software-pipelined by a chunk: the splats of one chunk wait until the next chunk is
        // coloured, so that its pixels, fetched meanwhile (prefetch), are in the cache by then.
        struct Chunk {
            Vecd pixel[kSplatChunk], mirrored[kSplatChunk];
            ColorRGBf colours[kSplatChunk];
            std::int32_t count = 0;
        } chunks[2];
        const auto splatChunk = [this, &splat](const Chunk& c) {
            if (mirror) {
                for (std::int32_t i = 0; i < c.count; ++i) {
                    splat(c.pixel[i], c.colours[i]);
                    splat(c.mirrored[i], c.colours[i]);
                }
            } else {
                for (std::int32_t i = 0; i < c.count; ++i) splat(c.pixel[i], c.colours[i]);
            }
        };
        Vecd plotted[kSplatChunk];
        ColorRGBf color = plotColor;
        int current = 0;
        for (std::int32_t start = 0; start < n; start += kSplatChunk) {
            Chunk& c = chunks[current];
            c.count = std::min(kSplatChunk, n - start);
            colourChunk(before, last, color, points + start, c.count, plotted, c.colours);
            projectChunk<kDepth>(plotted, c.count, 1.0, c.pixel);
            for (std::int32_t i = 0; i < c.count; ++i) prefetch(c.pixel[i]);
            if (mirror) {
                projectChunk<kDepth>(plotted, c.count, -1.0, c.mirrored);
                for (std::int32_t i = 0; i < c.count; ++i) prefetch(c.mirrored[i]);
            }
            current ^= 1;
            splatChunk(chunks[current]);
        }
        splatChunk(chunks[current ^ 1]);
        plotColor = color;
    }

    // Asks for the cache lines of the splat at pixel in base[] (elements of the given size):
    // the cell's row and the row above. Any coordinates are fine, even outside the image.
    QM_HOT_INLINE void prefetchSplat(const void* base, std::size_t size, const Vecd& pixel) const {
#if defined(__SSE2__)
        const auto column = static_cast<std::intptr_t>(_mm_cvttsd_si32(_mm_set_sd(pixel.x)));
        const auto row = static_cast<std::intptr_t>(_mm_cvttsd_si32(_mm_set_sd(pixel.y)));
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(base) +
                                  static_cast<std::uintptr_t>((column + row * imageWidth) *
                                                              static_cast<std::intptr_t>(size));
        __builtin_prefetch(reinterpret_cast<const void*>(at), 1);
        __builtin_prefetch(reinterpret_cast<const void*>(at + imageWidth * size), 1);
#else
        (void)base, (void)size, (void)pixel;
#endif
    }

private:
    // PlotBlock's body, and its instances for SSE2 and for AVX2 (chosen by detail::avx2Lanes).
    void plotBlockWith(const Vecd* points, std::int32_t n);
    void plotBlockSse2(const Vecd* points, std::int32_t n);
    void plotBlockAvx2(const Vecd* points, std::int32_t n);
};

class TBitmap3D_Plasma final : public TBitmap3D_Light {
public:
    TBitmap3D_Plasma();
    TBitmap3D_Plasma(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { TBitmap3D_Plasma::PlotBlock(&p, 1); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;

    // Depth of the front surface built so far per pixel, 0 near to 1 far.
    std::vector<float> surface;

private:
    void plotBlockWith(const Vecd* points, std::int32_t n);
    void plotBlockSse2(const Vecd* points, std::int32_t n);
    void plotBlockAvx2(const Vecd* points, std::int32_t n);
};

}  // namespace qm
