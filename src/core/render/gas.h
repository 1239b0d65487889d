// The grey density modes: Gas ("Gaz") adds every splat weight to a density buffer; Liquid
// ("Liquide") also keeps a depth surface so that the front layer hides what lies behind it.
#pragma once

#include "core/hot_path.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm {

struct SurfaceTest4;

// A multi-stream Gas render adds its weights as integers, in units of 2^-kGasFixedBits, so
// that its sums do not depend on the order of the additions: every thread may splat into a
// buffer of its own, and the buffers add up to the same integers however the streams were
// shared out. The weights are truncated to whole units. 25 bits: a pixel that received every
// point of 10^11 iterations, mirrored (two weights of at most 1 per point), stays below 2^63.
inline constexpr int kGasFixedBits = 25;
// The render state's name for fixedDensity: each sum as two 32-bit elements, low word first.
inline constexpr std::string_view kFixedDensityBuffer = "density.fixed";

// One thread's fixed-point sums: per pixel high * kHighUnit + low. The low words, which every
// splat adds to, lie in an array of their own as compact as the float density; a low word
// that reaches kHighUnit (64 whole weights) moves it to the high word (carry), so that the low
// words never wrap (a splat adds less than 2^26 units to each) and their sign bits say when.
//
// Sums saturate: a pixel's sum stops at kGasFixedLimit units (2^63 - 1, about 2.7 * 10^11
// whole weights, which a tiny attractor reaches after some 10^11 iterations) instead of
// wrapping. Every weight is positive, so a saturated sum is min(exact sum, kGasFixedLimit)
// however the additions were grouped, and the image still does not depend on the threads:
// the brightest pixels clip at the limit.
inline constexpr std::int64_t kGasFixedLimit = INT64_MAX;

struct GasFixedSums {
    static constexpr std::uint32_t kHighUnit = std::uint32_t{1} << 31;
    std::vector<std::uint32_t> low, high;
    void assign(std::size_t pixels) {
        low.assign(pixels, 0);
        high.assign(pixels, 0);
    }
    // At most kGasFixedLimit: the largest high word with the largest low word.
    static std::int64_t sum(std::uint32_t low, std::uint32_t high) {
        return static_cast<std::int64_t>(std::uint64_t{high} * kHighUnit + low);
    }
    std::int64_t at(std::size_t i) const { return sum(low[i], high[i]); }
    // After an addition to *word: moves kHighUnit to *highWord if the word reached it; once
    // the high word is full, the pair stays at kGasFixedLimit.
    static void carry(std::uint32_t* word, std::uint32_t* highWord) {
        if (*word < kHighUnit) return;
        if (*highWord == UINT32_MAX) {
            *word = kHighUnit - 1;
            return;
        }
        *word -= kHighUnit;
        ++*highWord;
    }
};

// a + b for sums of units (not negative), at most kGasFixedLimit.
inline std::int64_t addFixedSums(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    return __builtin_add_overflow(a, b, &r) ? kGasFixedLimit : r;
}

class TBitmap3D_Gas : public TBitmap3D {
public:
    TBitmap3D_Gas();
    TBitmap3D_Gas(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { plotGas(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    void findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const override;
    void preparePeaks(const float* peaks, std::int32_t parts) override;
    void buildRows(std::int32_t first, std::int32_t last) override;
    void buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                     std::int32_t last) override;

    std::vector<float> density;
    // The fixed-point sums of a multi-stream render (empty for the classic one); density holds
    // them as floats after each development (developFixed).
    std::vector<std::int64_t> fixedDensity;
    float peak = 0;
    double luminosity = 2.0;
    double gamma = 2.5;

    // The splats of a block of points, added as units to a thread's sums, in the cells
    // PlotBlock finds.
    void PlotBlockFixed(const Vecd* points, std::int32_t n, GasFixedSums& sums) const;
    // The same, added atomically to fixedDensity, which other threads add to at the same time.
    void PlotBlockShared(const Vecd* points, std::int32_t n);
    // The weight w of a splat in units, truncated; none for a weight that rounding made
    // negative.
    QM_HOT_INLINE static std::uint32_t fixedUnits(float w) {
        const auto u = static_cast<std::int32_t>(w * static_cast<float>(1 << kGasFixedBits));
        return static_cast<std::uint32_t>(u > 0 ? u : 0);
    }
    // Rows [firstRow, lastRow) of a development: density takes the sums of fixedDensity and
    // every thread's as floats. With fold, the threads' sums are also moved into fixedDensity
    // (added, then cleared); without, nothing but density is written, which takes about half
    // the memory traffic. fixedEmpty (without fold): the caller knows that fixedDensity holds
    // only zeros, and it is not read.
    void developFixed(GasFixedSums* const* parts, std::int32_t partCount, std::int32_t firstRow,
                      std::int32_t lastRow, bool fold = true, bool fixedEmpty = false);
    // The float of a fixed-point sum.
    static float fixedToFloat(std::int64_t sum) {
        return static_cast<float>(static_cast<double>(sum) * (1.0 / (1 << kGasFixedBits)));
    }

protected:
    QM_HOT_INLINE void plotGas(const Vecd& p) {
        splatGas(project(p));
        if (mirror) splatGas(project({p.x, p.y, -p.z}));
    }
    QM_HOT_INLINE void splatGas(const Vecd& pixel) {
        Splat s;
        if (!splatCell(pixel, s)) return;
        float* d = density.data() + s.index;
        d[0] += s.w00;
        d[1] += s.w10;
        d[imageWidth] += s.w01;
        d[imageWidth + 1] += s.w11;
    }
};

class TBitmap3D_Liquid final : public TBitmap3D_Gas {
public:
    TBitmap3D_Liquid();
    TBitmap3D_Liquid(const TBitmap3D& source, ModeSwitch);

    void AllocateBuffers() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { plotLiquid(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;

    std::vector<float> surface;

private:
    QM_HOT_INLINE void plotLiquid(const Vecd& p) {
        splatLiquid(project(p));
        if (mirror) splatLiquid(project({p.x, p.y, -p.z}));
    }
    QM_HOT_INLINE void splatLiquid(const Vecd& pixel);
#if defined(__SSE2__)
    template <bool kSignOfDifference>
    void plotBlockWith(const SurfaceTest4& test, const Vecd* points, std::int32_t n);
#endif
};

QM_HOT_INLINE void TBitmap3D_Liquid::splatLiquid(const Vecd& pixel) {
    splatBehindSurface(pixel, surface.data(),
                       [this](std::size_t at, float w, float m) { density[at] += w * m; });
}

}  // namespace qm
