#include "core/render/render_engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <system_error>
#include <thread>
#include <type_traits>

#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/render/develop_team.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/memory_budget.h"
#include "core/render/phase_barrier.h"
#include "core/render/solid.h"
#include "core/render/splat_bands.h"
#include "core/render/splat_cells.h"

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Processor time of the calling thread, for the statistics (0 where there is no such clock).
double threadCpuSeconds() {
#if defined(__linux__)
    timespec t;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0)
        return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
#endif
    return 0;
}

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void pause() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

// Points stepped per call of the attractor, inside a stream's share of a round.
constexpr std::int32_t kBlock = 512;

// ---------------------------------------------------------------------------------------------
// What a mode does in the two phases. In phase 1 a stream's splats become entries (the cell's
// pixel index and fractions, and what the mode adds: depth, colour), sorted by band as the
// stream ends (splat_bands.h); one set per buffer family (the camera image; Solid's light maps
// each have their own). In phase 2 each band applies its entries, stream by stream.

using detail::SplatBands;
using detail::splatRows;

class ModeOps {
public:
    virtual ~ModeOps() = default;
    // The block straight into the target, as the classic render plots it; on thread `self`
    // (only Gas's fixed-point sums are plotted so on several threads).
    virtual void plot(std::int32_t self, StreamState& stream, const Vecd* points,
                      std::int32_t n) = 0;
    // Phase 1: stream k's share of the round, block by block, after clearStream(k).
    virtual void clearStream(std::int32_t k) = 0;
    virtual void prepare(std::int32_t k, StreamState& stream, const Vecd* points,
                         std::int32_t n) = 0;
    // Phase 2: stream k's entries in band b. A band takes the streams in order.
    virtual void band(std::int32_t b, std::int32_t k) = 0;
    virtual std::int32_t bands() const = 0;
    // The memory of one band's lists, every stream's.
    virtual std::uint64_t bytesPerBand() const = 0;
    // Between rounds: the band edges for the next round.
    virtual void rebalance() = 0;
};

// The buckets of every stream.
template <class Entry>
class Banded : public ModeOps {
public:
    // sizes: width and height of each buffer family.
    Banded(std::int32_t streams, std::int32_t bands,
           const std::vector<std::array<std::int32_t, 2>>& sizes)
        // Each point may splat twice into a family (its mirror image).
        : bands_(streams, bands, 2 * roundPoints(streams), sizes),
          bandBytes_(static_cast<std::uint64_t>(streams) * sizes.size() * 2 *
                     static_cast<std::uint64_t>(roundPoints(streams)) * sizeof(Entry)) {}
    void clearStream(std::int32_t k) override { bands_.clear(k); }
    std::uint64_t bytesPerBand() const override { return bandBytes_; }
    std::int32_t bands() const override { return bands_.bands(); }
    void rebalance() override { bands_.rebalance(); }

protected:
    // What prepare writes stream k's splats of one buffer family to.
    typename SplatBands<Entry>::Appender appender(std::int32_t k, std::int32_t family) {
        return {bands_, k, family};
    }
    SplatBands<Entry> bands_;
    std::uint64_t bandBytes_;
};

// Stands for SurfaceTest4 where a band tests pixel by pixel or not at all.
struct NoSurfaceTest4 {};

std::vector<std::array<std::int32_t, 2>> imageSize(const TBitmap3D& t) {
    return {{t.imageWidth, t.imageHeight}};
}

// Gas: density += w, or with several streams fixedDensity += units(w) (gas.h).
struct GasEntry {
    std::int32_t index;
    float fx, fy;
};

class GasOps final : public Banded<GasEntry> {
public:
    // fixed: the fixed-point sums, into sums[thread], or when there are none atomically into
    // the target's fixedDensity.
    GasOps(TBitmap3D_Gas& t, std::int32_t streams, std::int32_t bands, bool fixed,
           std::vector<GasFixedSums*> sums)
        : Banded(streams, bands, imageSize(t)), t_(t), fixed_(fixed), sums_(std::move(sums)) {}
    void plot(std::int32_t self, StreamState&, const Vecd* points, std::int32_t n) override {
        if (!fixed_)
            t_.PlotBlock(points, n);
        else if (sums_.empty())
            t_.PlotBlockShared(points, n);
        else
            t_.PlotBlockFixed(points, n, *sums_[static_cast<std::size_t>(self)]);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        auto out = appender(k, 0);
        forEachSplatCell<false>(
            t_.combinedMatrix.m, t_.imageWidth, t_.imageHeight, t_.mirror, points, n,
            [&](std::int32_t, std::int32_t index, float fx, float fy, std::int32_t row, double) {
                out.add(GasEntry{index, fx, fy}, row);
            });
    }
    void band(std::int32_t b, std::int32_t k) override {
        const auto& split = bands_.split(0);
        const std::int32_t r0 = split.firstRow(b), r1 = split.firstRow(b + 1), w = t_.imageWidth;
        float* d = t_.density.data();
        bands_.inBand(0, b, k, [&](const GasEntry* e, const GasEntry* end) {
            splatRows(
                e, end, r0, r1, w, [d](const GasEntry&, std::int32_t at, float wt) { d[at] += wt; },
                [d, w](std::int32_t at) {
                    detail::prefetchForWrite(d + at);
                    detail::prefetchForWrite(d + at + w);
                });
        });
    }

private:
    TBitmap3D_Gas& t_;
    bool fixed_;
    std::vector<GasFixedSums*> sums_;
};

// Liquid and Plasma share the surface test; Light and Plasma the colour. The entries keep
// the fractions, not the four weights: the lists are written and read once per splat, and
// the weights take a few operations to form again.
struct LiquidEntry {
    std::int32_t index;
    float fx, fy;
    float d;  // depth rounded to float
};
struct LightEntry {
    std::int32_t index;
    float fx, fy;
    ColorRGBf c;
};
struct PlasmaEntry {
    std::int32_t index;
    float fx, fy;
    ColorRGBf c;
    float d;
};

class LiquidOps final : public Banded<LiquidEntry> {
public:
    LiquidOps(TBitmap3D_Liquid& t, std::int32_t streams, std::int32_t bands)
        : Banded(streams, bands, imageSize(t)), t_(t) {}
    void plot(std::int32_t, StreamState&, const Vecd* points, std::int32_t n) override {
        t_.PlotBlock(points, n);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        auto out = appender(k, 0);
        forEachSplatCell<true>(
            t_.combinedMatrix.m, t_.imageWidth, t_.imageHeight, t_.mirror, points, n,
            [&](std::int32_t, std::int32_t index, float fx, float fy, std::int32_t row, double d) {
                out.add(LiquidEntry{index, fx, fy, static_cast<float>(d)}, row);
            });
    }
    void band(std::int32_t b, std::int32_t k) override {
#if defined(__SSE2__)
        const SurfaceTest4 test(t_.depthRange, t_.scale);
        if (test.signOfDifference)
            bandWith<true>(test, b, k);
        else
            bandWith<false>(test, b, k);
#else
        bandWith<false>(NoSurfaceTest4{}, b, k);
#endif
    }

private:
    // The splats of stream k in band b, in order. A cell whose two rows lie in the band takes
    // the surface test of its four pixels at once, as the single-thread plot does; a cell
    // across a band edge tests the pixels of its row in the band one by one, which gives the
    // same floats (the four pixels are distinct, and each sees its splats in the same order).
    template <bool kSignOfDifference, class Test>
    void bandWith(const Test& test, std::int32_t b, std::int32_t k) {
        const auto& split = bands_.split(0);
        const std::int32_t r0 = split.firstRow(b), r1 = split.firstRow(b + 1), w = t_.imageWidth;
        float* const density = t_.density.data();
        float* const surface = t_.surface.data();
        const double depthRange = t_.depthRange, scale = t_.scale;
        const std::int32_t lo = r0 * w, hi = (r1 - 1) * w;
        bands_.inBand(0, b, k, [&](const LiquidEntry* e, const LiquidEntry* end) {
            constexpr std::ptrdiff_t kAhead = 24;
            auto ask = [&](std::int32_t at) {
                detail::prefetchForWrite(surface + at);
                detail::prefetchForWrite(surface + at + w);
                detail::prefetchForWrite(density + at);
                detail::prefetchForWrite(density + at + w);
            };
            for (std::ptrdiff_t i = 0; i < std::min(kAhead, end - e); ++i) ask(e[i].index);
            for (; e != end; ++e) {
                if (end - e > kAhead) ask(e[kAhead].index);
                const std::int32_t at = e->index;
                Splat s;
                TBitmap3D::splatWeights(e->fx, e->fy, s);
#if defined(__SSE2__)
                if (at >= lo && at < hi) [[likely]] {
                    const __m128 wt = _mm_setr_ps(s.w00, s.w10, s.w01, s.w11);
                    const __m128 m = test.template test<kSignOfDifference>(
                        surface + at, surface + at + w, wt, _mm_set1_ps(e->d));
                    // density += w * m where the coverage is above 0; the other lanes keep
                    // their bits.
                    float* const d0 = density + at;
                    float* const d1 = d0 + w;
                    const __m128 before = SurfaceTest4::load4(d0, d1);
                    const __m128 counts = _mm_cmpgt_ps(m, _mm_setzero_ps());
                    const __m128 added = _mm_add_ps(before, _mm_mul_ps(wt, m));
                    const __m128 after =
                        _mm_or_ps(_mm_and_ps(counts, added), _mm_andnot_ps(counts, before));
                    _mm_storel_pi(reinterpret_cast<__m64*>(d0), after);
                    _mm_storeh_pi(reinterpret_cast<__m64*>(d1), after);
                    continue;
                }
#endif
                auto pixel = [&](std::int32_t p, float wt) {
                    const float m = surfaceCoverage(surface[p], e->d, wt, depthRange, scale);
                    if (m > 0) density[p] += wt * m;
                };
                if (at >= lo) {
                    pixel(at, s.w00);
                    pixel(at + 1, s.w10);
                }
                if (at < hi) {
                    pixel(at + w, s.w01);
                    pixel(at + w + 1, s.w11);
                }
            }
        });
    }

    TBitmap3D_Liquid& t_;
};

template <bool kPlasma>
class LightOps final : public Banded<std::conditional_t<kPlasma, PlasmaEntry, LightEntry>> {
    using Entry = std::conditional_t<kPlasma, PlasmaEntry, LightEntry>;
    using Base = Banded<Entry>;

public:
    LightOps(TBitmap3D_Light& t, std::int32_t streams, std::int32_t bands)
        : Base(streams, bands, imageSize(t)), t_(t) {}
    void plot(std::int32_t, StreamState& st, const Vecd* points, std::int32_t n) override {
        // The target's own orbit memory stands in for the stream's during the block.
        t_.before = st.before;
        t_.last = st.last;
        t_.plotColor = st.plotColor;
        t_.PlotBlock(points, n);
        st.before = t_.before;
        st.last = t_.last;
        st.plotColor = t_.plotColor;
    }
    void prepare(std::int32_t k, StreamState& st, const Vecd* points, std::int32_t n) override {
        auto out = this->appender(k, 0);
        Vecd before = st.before, last = st.last;
        ColorRGBf color = st.plotColor;
        Vecd plotted[TBitmap3D::kSplatChunk];
        ColorRGBf colours[TBitmap3D::kSplatChunk];
        // Chunk by chunk: the colours (the mode's own), then the entries in point order, a
        // point before its mirror image.
        for (std::int32_t start = 0; start < n; start += TBitmap3D::kSplatChunk) {
            const std::int32_t count = std::min(TBitmap3D::kSplatChunk, n - start);
            t_.colourChunk(before, last, color, points + start, count, plotted, colours);
            forEachSplatCell<kPlasma>(t_.combinedMatrix.m, t_.imageWidth, t_.imageHeight, t_.mirror,
                                      plotted, count,
                                      [&](std::int32_t i, std::int32_t index, float fx, float fy,
                                          std::int32_t row, double d) {
                                          Entry e;
                                          e.index = index;
                                          e.fx = fx;
                                          e.fy = fy;
                                          e.c = colours[i];
                                          if constexpr (kPlasma) e.d = static_cast<float>(d);
                                          out.add(e, row);
                                      });
        }
        st.before = before;
        st.last = last;
        st.plotColor = color;
    }
    void band(std::int32_t b, std::int32_t k) override {
#if defined(__SSE2__)
        if constexpr (kPlasma) {
            const SurfaceTest4 test(t_.depthRange, t_.scale);
            if (test.signOfDifference)
                bandWith<true>(test, b, k);
            else
                bandWith<false>(test, b, k);
        } else {
            lightBand(b, k);
        }
#else
        if constexpr (kPlasma)
            bandWith<false>(NoSurfaceTest4{}, b, k);
        else
            lightBand(b, k);
#endif
    }

private:
    // Light: each pixel of the band takes colour x weight, channel by channel (three channels
    // at a time measured no faster: the light buffer's misses dominate).
    void lightBand(std::int32_t b, std::int32_t k) {
        const auto& split = this->bands_.split(0);
        const std::int32_t r0 = split.firstRow(b), r1 = split.firstRow(b + 1), w = t_.imageWidth;
        ColorRGBf* light = t_.lightBuffer.data();
        this->bands_.inBand(0, b, k, [&](const Entry* e, const Entry* end) {
            splatRows(
                e, end, r0, r1, w,
                [light](const Entry& en, std::int32_t at, float wt) {
                    ColorRGBf& c = light[at];
                    c.r += en.c.r * wt;
                    c.g += en.c.g * wt;
                    c.b += en.c.b * wt;
                },
                [light, w](std::int32_t at) {
                    detail::prefetchForWrite(light + at);
                    detail::prefetchForWrite(light + at + w);
                });
        });
    }

    // Plasma: the splats of stream k in band b, in order. A cell whose two rows lie in the
    // band is applied as the single-thread plot applies it: the surface test of its four
    // pixels at once (SurfaceTest4), without a branch on the depths, then each pixel's light
    // three channels at a time. A cell across a band edge takes its pixels in the band one by
    // one, with the same floats.
    template <bool kSignOfDifference, class Test>
    void bandWith([[maybe_unused]] const Test& test, std::int32_t b, std::int32_t k) {
        const auto& split = this->bands_.split(0);
        const std::int32_t r0 = split.firstRow(b), r1 = split.firstRow(b + 1), w = t_.imageWidth;
        const std::int32_t lo = r0 * w, hi = (r1 - 1) * w;
        ColorRGBf* const light = t_.lightBuffer.data();
        float* const surface = static_cast<TBitmap3D_Plasma&>(t_).surface.data();
        const double depthRange = t_.depthRange, scale = t_.scale;
        this->bands_.inBand(0, b, k, [&](const Entry* e, const Entry* end) {
            constexpr std::ptrdiff_t kAhead = 32;
            // A pixel of light is 12 bytes: two of them may span two cache lines.
            auto ask = [&](std::int32_t at) {
                detail::prefetchForWrite(&light[at].r);
                detail::prefetchForWrite(&light[at + 1].b);
                detail::prefetchForWrite(&light[at + w].r);
                detail::prefetchForWrite(&light[at + w + 1].b);
                detail::prefetchForWrite(surface + at);
                detail::prefetchForWrite(surface + at + w);
            };
            for (std::ptrdiff_t i = 0; i < std::min(kAhead, end - e); ++i) ask(e[i].index);
            for (; e != end; ++e) {
                if (end - e > kAhead) ask(e[kAhead].index);
                const std::int32_t at = e->index;
                Splat s;
                TBitmap3D::splatWeights(e->fx, e->fy, s);
#if defined(__SSE2__)
                if (at >= lo && at < hi) [[likely]] {
                    const __m128 wt = _mm_setr_ps(s.w00, s.w10, s.w01, s.w11);
                    const __m128 c = load3(&e->c.r);
                    const __m128 m = test.template test<kSignOfDifference>(
                        surface + at, surface + at + w, wt, _mm_set1_ps(e->d));
                    const __m128 lit = _mm_cmpgt_ps(m, _mm_setzero_ps());
                    // colour x weight is rounded to float before the coverage applies; a pixel
                    // that takes no light gets -0 added, which changes nothing.
                    auto add = [&](std::int32_t p, __m128 wq, __m128 mq, __m128 use) {
                        const __m128 product = _mm_mul_ps(_mm_mul_ps(c, wq), mq);
                        addLight(light[p], _mm_or_ps(_mm_and_ps(use, product),
                                                     _mm_andnot_ps(use, _mm_set1_ps(-0.0f))));
                    };
                    add(at, lane<0>(wt), lane<0>(m), lane<0>(lit));
                    add(at + 1, lane<1>(wt), lane<1>(m), lane<1>(lit));
                    add(at + w, lane<2>(wt), lane<2>(m), lane<2>(lit));
                    add(at + w + 1, lane<3>(wt), lane<3>(m), lane<3>(lit));
                    continue;
                }
#endif
                auto pixel = [&](std::int32_t p, float wt) {
                    const float m = surfaceCoverage(surface[p], e->d, wt, depthRange, scale);
                    if (!(m > 0)) return;
                    ColorRGBf& c = light[p];
                    c.r += e->c.r * wt * m;
                    c.g += e->c.g * wt * m;
                    c.b += e->c.b * wt * m;
                };
                if (at >= lo) {
                    pixel(at, s.w00);
                    pixel(at + 1, s.w10);
                }
                if (at < hi) {
                    pixel(at + w, s.w01);
                    pixel(at + w + 1, s.w11);
                }
            }
        });
    }

#if defined(__SSE2__)
    // Lane q of v in every lane.
    template <int q>
    QM_HOT_INLINE static __m128 lane(__m128 v) {
        return _mm_shuffle_ps(v, v, _MM_SHUFFLE(q, q, q, q));
    }
    // r, g, b, 0 from three floats.
    QM_HOT_INLINE static __m128 load3(const float* p) {
        return _mm_movelh_ps(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
                             _mm_load_ss(p + 2));
    }
    // cell += the first three lanes of v, channel by channel.
    QM_HOT_INLINE static void addLight(ColorRGBf& cell, __m128 v) {
        const __m128 sum = _mm_add_ps(load3(&cell.r), v);
        _mm_storel_pi(reinterpret_cast<__m64*>(&cell.r), sum);
        _mm_store_ss(&cell.b, _mm_movehl_ps(sum, sum));
    }
#endif

private:
    TBitmap3D_Light& t_;
};

// Solid: the camera's density and depth, and each light's two maps; family 0 is the camera,
// family 1 + i light i.
struct DepthEntry {
    double d;
    std::int32_t index;
    float fx, fy;
};

std::vector<std::array<std::int32_t, 2>> solidSizes(const TBitmap3D_Solid& t) {
    std::vector<std::array<std::int32_t, 2>> sizes = imageSize(t);
    for (const auto& light : t.lights) sizes.push_back({light->mapWidth, light->mapHeight});
    return sizes;
}

class SolidOps final : public Banded<DepthEntry> {
public:
    SolidOps(TBitmap3D_Solid& t, std::int32_t streams, std::int32_t bands)
        : Banded(streams, bands, solidSizes(t)), t_(t) {}
    void plot(std::int32_t, StreamState&, const Vecd* points, std::int32_t n) override {
        t_.PlotBlock(points, n);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        // The camera, then every light with a map: each buffer receives its points in
        // plotting order.
        const auto families = static_cast<std::int32_t>(1 + t_.lights.size());
        for (std::int32_t f = 0; f < families; ++f) {
            if (f > 0 && !t_.lights[static_cast<std::size_t>(f - 1)]->hasMap()) continue;
            auto out = appender(k, f);
            const Mat4& m =
                f == 0 ? t_.combinedMatrix : t_.lights[static_cast<std::size_t>(f - 1)]->matrix;
            forEachSplatCell<true>(m.m, t_.bufferWidth(f), t_.bufferHeight(f), t_.mirror, points, n,
                                   [&](std::int32_t, std::int32_t index, float fx, float fy,
                                       std::int32_t row, double d) {
                                       out.add(DepthEntry{d, index, fx, fy}, row);
                                   });
        }
    }
    void band(std::int32_t b, std::int32_t k) override {
        for (std::int32_t f = 0; f < 1 + static_cast<std::int32_t>(t_.lights.size()); ++f) {
            if (f > 0 && !t_.lights[static_cast<std::size_t>(f - 1)]->hasMap()) continue;
            const auto& split = bands_.split(f);
            const std::int32_t r0 = split.firstRow(b), r1 = split.firstRow(b + 1);
            const std::int32_t width = t_.bufferWidth(f);
            DepthSample* samples = t_.bufferSamples(f);
            // splatRows' walk, a row's two samples at a time.
            const std::int32_t lo = r0 * width, hi = (r1 - 1) * width;
            bands_.inBand(f, b, k, [&](const DepthEntry* e, const DepthEntry* end) {
                constexpr std::ptrdiff_t kAhead = 64;
                auto ask = [samples, width](std::int32_t at) {
                    detail::prefetchForWrite(samples + at);
                    detail::prefetchForWrite(samples + at + width + 1);
                };
                for (std::ptrdiff_t i = 0; i < std::min(kAhead, end - e); ++i) ask(e[i].index);
                for (; e != end; ++e) {
                    if (end - e > kAhead) ask(e[kAhead].index);
                    Splat s;
                    TBitmap3D::splatWeights(e->fx, e->fy, s);
                    const std::int32_t at = e->index;
                    if (at >= lo) addDepthSamplePair(samples + at, s.w00, s.w10, e->d);
                    if (at < hi) addDepthSamplePair(samples + at + width, s.w01, s.w11, e->d);
                }
            });
        }
    }

private:
    TBitmap3D_Solid& t_;
};

// fixed, sums: Gas's fixed-point sums (see GasOps).
std::unique_ptr<ModeOps> makeOps(TBitmap3D& target, std::int32_t streams, std::int32_t bands,
                                 bool fixed, std::vector<GasFixedSums*> sums) {
    switch (target.renderMode()) {
        case RenderMode::Gas:
            return std::make_unique<GasOps>(static_cast<TBitmap3D_Gas&>(target), streams, bands,
                                            fixed, std::move(sums));
        case RenderMode::Liquid:
            return std::make_unique<LiquidOps>(static_cast<TBitmap3D_Liquid&>(target), streams,
                                               bands);
        case RenderMode::Light:
            return std::make_unique<LightOps<false>>(static_cast<TBitmap3D_Light&>(target), streams,
                                                     bands);
        case RenderMode::Plasma:
            return std::make_unique<LightOps<true>>(static_cast<TBitmap3D_Light&>(target), streams,
                                                    bands);
        case RenderMode::Solid:
            return std::make_unique<SolidOps>(static_cast<TBitmap3D_Solid&>(target), streams,
                                              bands);
    }
    return nullptr;
}

}  // namespace

std::uint64_t streamSeed(std::uint64_t renderSeed, std::int32_t k) {
    return splitmix64(splitmix64(renderSeed) ^ static_cast<std::uint64_t>(k));
}

std::int32_t defaultThreadCount() {
    std::int32_t n = 0;
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
#endif
    if (n <= 0) n = static_cast<std::int32_t>(std::thread::hardware_concurrency());
    return std::clamp(n, 1, kMaxThreads);
}

// ---------------------------------------------------------------------------------------------

struct RenderEngine::Impl {
    struct Stream {
        std::unique_ptr<Attractor> orbit;
        StreamState state;
        std::int32_t planned = 0;  // iterations in the current round
    };
    enum class Round { Quit, Transient, Main };

    TBitmap3D& target;
    TBitmap3D_Light* light = nullptr;
    std::int32_t streamCount = 1;
    std::int32_t threadCount = 1;
    std::int32_t shard = 0;
    std::int32_t shardCount = 1;
    std::int64_t total = 0;
    std::int64_t interval = 0;
    std::function<void()> onThreadStart;
    std::vector<Stream> streams;
    std::unique_ptr<ModeOps> ops;
    bool cloned = true;
    bool banded = false;  // the two phases even on one thread
    // Gas with several streams: fixed-point sums (gas.h), without bands: a thread plots the
    // streams it runs straight away, into ownSums[thread] when memory allows, else atomically
    // into the target's fixedDensity. Before each development the density takes the sums of
    // fixedDensity and the threads', row by row on every thread; when run returns the
    // threads' sums are moved into fixedDensity.
    TBitmap3D_Gas* fixedGas = nullptr;
    std::vector<GasFixedSums> ownSums;
    std::vector<GasFixedSums*> ownSumPointers;
    std::int64_t foldedAt = -1;  // the counter when density last took the sums
    // fixedDensity holds only zeros (a fresh render before its threads' sums were moved in):
    // developments need not read it.
    bool fixedEmpty = false;
    bool developDue = false;     // the round just ended needs a development
    std::int32_t started = 1;    // threads at work in the current run
    EngineStats stats;

    // The run in progress.
    Round round = Round::Quit;
    RenderSink* sink = nullptr;
    RenderControl* control = nullptr;
    RenderOutcome outcome;
    // Thread t runs streams t, t + T, t + 2T, ... (T threads), so that a stream's orbit and
    // its splats for that thread's band stay in one processor's cache from round to round;
    // cursor[t] counts those taken, by t or, once a thread has run its own, by another.
    struct alignas(64) Cursor {
        std::atomic<std::int32_t> next{0};
    };
    std::unique_ptr<Cursor[]> cursor;
    // Within a round: stream k's splats are sorted (ready[k]); band b has had streams
    // [0, applied) (read and written by the thread that holds the band).
    std::unique_ptr<std::atomic<bool>[]> ready;
    struct alignas(64) BandProgress {
        std::atomic<bool> held{false};
        std::int32_t applied = 0;
    };
    std::unique_ptr<BandProgress[]> bandProgress;
    // Within a round of private fixed-point sums: what is left of stream k's share, and
    // whether a thread is running it.
    struct alignas(64) StreamSlot {
        std::atomic<std::int32_t> left{0};
        std::atomic<bool> busy{false};
    };
    std::unique_ptr<StreamSlot[]> slots;
    std::atomic<std::int32_t> bandsDone{0};
    Clock::time_point released;  // when the last barrier let go

    // The threads that share a development (the target's BuildImage in the sink, and the
    // fold of Gas's fixed-point sums): with a pool, every thread of it, met at the round's
    // barrier, thread 0 running the sink while the others serve; alone, this thread.
    struct Team final : DevelopTeam {
        Impl& engine;
        PhaseBarrier* barrier;  // nullptr alone
        const PartTask* task = nullptr;
        Team(Impl& e, PhaseBarrier* b) : engine(e), barrier(b) {}
        std::int32_t size() const override { return barrier ? engine.started : 1; }
        void run(const PartTask& t) override {
            const auto start = Clock::now();
            if (barrier) {
                task = &t;
                barrier->arriveAndWait();
                t(0);
                barrier->arriveAndWait();
            } else {
                t(0);
            }
            engine.stats.developParallelSeconds += secondsSince(start);
        }
        // Threads 1 and up, until thread 0 calls finish.
        void serve(std::int32_t self) {
            for (;;) {
                barrier->arriveAndWait();  // a task, or the end
                const PartTask* t = task;
                if (!t) return;
                (*t)(self);
                barrier->arriveAndWait();
            }
        }
        void finish() {
            task = nullptr;
            if (barrier) barrier->arriveAndWait();
        }
    };
    Team aloneTeam{*this, nullptr};
    Team* team = &aloneTeam;

    Impl(const Attractor& attractor, TBitmap3D& t, const EngineSettings& s) : target(t) {
        streamCount = std::clamp(s.streams, 1, kMaxStreams);
        threadCount = s.threads <= 0 ? defaultThreadCount() : std::min(s.threads, kMaxThreads);
        total = std::max<std::int64_t>(s.totalIterations, 0);
        interval = total / std::max(s.updates, 1);
        onThreadStart = s.onThreadStart;
        shardCount = std::clamp(s.shards, 1, streamCount);
        shard = std::clamp(s.shard, 0, shardCount - 1);
        light = target.isLightFamily() ? static_cast<TBitmap3D_Light*>(&target) : nullptr;
        // One thread runs the two phases as well in the Light family only: grouping a round's
        // splats apart from the colouring is faster there than plotting each block at once,
        // while the block splats of Gas, Liquid and Solid (cells a chunk at a time; Solid's
        // buffer by buffer) are faster than the lists. Both give the same bytes.
        banded = threadCount > 1 || target.isLightFamily();
        if (target.renderMode() == RenderMode::Gas) {
            auto& gas = static_cast<TBitmap3D_Gas&>(target);
            if (streamCount > 1) {
                fixedGas = &gas;
                banded = false;
                if (gas.fixedDensity.size() != gas.density.size()) {
                    gas.fixedDensity.assign(gas.density.size(), 0);
                    fixedEmpty = true;
                } else {
                    fixedEmpty = std::all_of(gas.fixedDensity.begin(), gas.fixedDensity.end(),
                                             [](std::int64_t v) { return v == 0; });
                }
                // Sums per thread where memory allows (half of what the process may still
                // take); otherwise atomic additions, which give the same sums, slower.
                const std::uint64_t perThread = gasThreadSumBytes(gas.imageWidth, gas.imageHeight);
                if (gasThreadSumsFit(perThread, threadCount, memoryBudget().bytes)) {
                    ownSums.resize(static_cast<std::size_t>(threadCount));
                    for (GasFixedSums& own : ownSums) {
                        own.assign(gas.density.size());
                        ownSumPointers.push_back(&own);
                    }
                } else {
                    fixedEmpty = false;  // the threads add into it
                }
            } else {
                // The classic render sums in float.
                std::vector<std::int64_t>().swap(gas.fixedDensity);
            }
        }
        // One band per thread: the bands are balanced by their splats, and a thread that keeps
        // its band from round to round keeps its rows of the buffers in its own cache.
        const std::int32_t bands = std::min(threadCount, detail::kMaxBands);
        ops = makeOps(target, banded ? streamCount : 0, bands, fixedGas != nullptr, ownSumPointers);
        stats.bytesPerAddedThread =
            fixedGas
                ? (ownSums.empty()
                       ? 0
                       : (ownSums[0].low.size() + ownSums[0].high.size()) * sizeof(std::uint32_t))
                : (banded ? ops->bytesPerBand() : 0);
        bandProgress = std::make_unique<BandProgress[]>(static_cast<std::size_t>(bands));
        cursor = std::make_unique<Cursor[]>(static_cast<std::size_t>(threadCount));
        streams.resize(static_cast<std::size_t>(streamCount));
        ready = std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(streamCount));
        slots = std::make_unique<StreamSlot[]>(static_cast<std::size_t>(streamCount));
        for (Stream& stream : streams) {
            stream.orbit = attractor.clone();
            if (!stream.orbit) cloned = false;
        }
        if (cloned) startStreams(s.renderSeed);
    }

    // Fresh streams, as the header describes.
    void startStreams(std::uint64_t renderSeed) {
        StreamState base;
        if (light) {
            base.before = light->before;
            base.last = light->last;
            base.plotColor = light->plotColor;
        }
        const Random31 saved = threadRandom31();
        if (streamCount == 1) {
            Stream& s = streams[0];
            s.state = base;
            s.state.point = s.orbit->currentPoint();
            s.state.orbitMemory = s.orbit->orbitMemory();
        } else {
            // One walk along the classic orbit, from a clone of its own.
            const std::unique_ptr<Attractor> walkerOwner = streams[0].orbit->clone();
            Attractor& walker = *walkerOwner;
            threadRandom31().state = 0;
            alignas(64) Vecd block[kBlock];
            auto walk = [&](std::int64_t n) {
                while (n > 0 && !walker.diverged()) {
                    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(n, kBlock));
                    n -= walker.iterateBlock(block, want);
                    walker.resetIterationCount();
                }
            };
            walk(kRenderTransient);
            for (std::int32_t k = 0; k < streamCount; ++k) {
                if (k > 0) walk(kStreamStride);
                Stream& s = streams[static_cast<std::size_t>(k)];
                s.state = base;
                s.state.diverged = walker.diverged();
                s.state.orbitMemory = walker.orbitMemory();
                // A nudge of a relative 1e-9 from the stream's own generator: the maps and
                // flows are deterministic, and without it stream k + 1 would retrace stream
                // k's orbit kStreamStride iterations ahead, point for point.
                Random31 rng{streamSeed(renderSeed, k)};
                Vecd p = walker.currentPoint();
                auto nudge = [&rng](double c) {
                    return c + (rng.uniform() - 0.5) * 1e-9 * (1 + std::fabs(c));
                };
                p = {nudge(p.x), nudge(p.y), nudge(p.z)};
                s.state.point = p;
                s.state.random = rng.state;
                s.orbit->setCurrentPoint(p);
                s.orbit->setOrbitMemory(s.state.orbitMemory);
            }
        }
        threadRandom31() = saved;
    }

    std::int64_t counter() const {
        std::int64_t n = 0;
        for (const Stream& s : streams) n += static_cast<std::int64_t>(s.state.count);
        return n;
    }
    bool anyDiverged() const {
        return std::any_of(streams.begin(), streams.end(),
                           [](const Stream& s) { return s.state.diverged; });
    }

    // The next round's shares, or Quit.
    void plan() {
        const std::int64_t now = counter();
        round = Round::Quit;
        if (control->stopRequested.load(std::memory_order_relaxed) || anyDiverged()) return;
        if (std::any_of(streams.begin(), streams.end(), [](const Stream& s) {
                return s.state.count < std::uint64_t{kRenderTransient};
            })) {
            round = Round::Transient;
            for (Stream& s : streams)
                s.planned = static_cast<std::int32_t>(std::max<std::int64_t>(
                    0, kRenderTransient - static_cast<std::int64_t>(s.state.count)));
            return;
        }
        if (now >= total) return;
        std::int64_t budget = std::min<std::int64_t>(
            std::int64_t{roundPoints(streamCount)} * streamCount * (fixedGas ? kFixedRounds : 1),
            total - now);
        if (interval > 0) {
            std::int64_t untilDevelop = (interval - (now + 1) % interval) % interval;
            if (untilDevelop == 0) untilDevelop = interval;
            budget = std::min(budget, untilDevelop);
        }
        round = Round::Main;
        const std::int64_t share = budget / streamCount, extra = budget % streamCount;
        for (std::int32_t k = 0; k < streamCount; ++k)
            streams[static_cast<std::size_t>(k)].planned =
                static_cast<std::int32_t>(share + (k < extra ? 1 : 0));
    }

    // Stream k's share of the round: iterated, and plotted (one thread) or kept by band. Only
    // a direct plot may take the share in parts (`count` iterations of it, in order).
    void runStream(std::int32_t k, Vecd* block, bool direct, std::int32_t self) {
        runStream(k, block, direct, self, streams[static_cast<std::size_t>(k)].planned);
    }
    void runStream(std::int32_t k, Vecd* block, bool direct, std::int32_t self,
                   std::int32_t count) {
        Stream& s = streams[static_cast<std::size_t>(k)];
        const bool plot = round == Round::Main;
        if (k % shardCount != shard) {
            // Another shard's stream: counted, not run.
            if (plot && !direct) ops->clearStream(k);
            s.state.count += static_cast<std::uint64_t>(count);
            return;
        }
        if (plot && !direct) ops->clearStream(k);
        Random31& rng = threadRandom31();
        rng.state = s.state.random;
        std::int64_t done = 0;
        while (done < count) {
            const auto want =
                static_cast<std::int32_t>(std::min<std::int64_t>(kBlock, count - done));
            const std::int32_t got = s.orbit->iterateBlock(block, want);
            done += got;
            if (plot) {
                if (direct)
                    ops->plot(self, s.state, block, got);
                else
                    ops->prepare(k, s.state, block, got);
            }
            if (s.orbit->diverged()) {
                s.state.diverged = true;
                break;
            }
        }
        s.state.count += static_cast<std::uint64_t>(done);
        s.state.random = rng.state;
        s.state.point = s.orbit->currentPoint();
        s.orbit->resetIterationCount();
    }

    // Between rounds, on one thread while the others wait. With a development due on several
    // threads, it stops at that: every thread takes part in the development (develop, then
    // finishRound).
    bool endRound(bool pool) {
        const auto start = Clock::now();
        ++stats.rounds;
        const std::int64_t now = counter();
        control->counter.store(now, std::memory_order_relaxed);
        developDue = false;
        if (round == Round::Main) {
            control->progress.store(static_cast<double>(now) / static_cast<double>(total),
                                    std::memory_order_relaxed);
            developDue = interval > 0 && (now + 1) % interval == 0;
        }
        if (developDue && pool) {
            stats.betweenRoundsSeconds += secondsSince(start);
            return true;
        }
        finishRound(start);
        return false;
    }

    // A development on the team's threads, the calling thread first among them: the density
    // takes the fixed-point sums, by rows (the threads' sums stay where they are until the
    // run returns), and the sink develops with the team lent to the target.
    void develop() {
        const auto start = Clock::now();
        if (fixedGas) {
            foldedAt = counter();
            const auto foldStart = Clock::now();
            foldSums(team, false);
            stats.foldSeconds += secondsSince(foldStart);
        }
        DevelopTeam* const lent = target.developTeam();
        target.setDevelopTeam(team);
        sink->develop();
        target.setDevelopTeam(lent);
        ++outcome.developments;
        developDue = false;
        stats.developSeconds += secondsSince(start);
    }

    // The density takes the fixed-point sums (developFixed), a few rows at a time on every
    // thread of the team; with move, the threads' sums move into fixedDensity.
    void foldSums(DevelopTeam* folders, bool move) {
        const std::int32_t h = fixedGas->imageHeight;
        const std::int32_t step = std::clamp(h / (8 * folders->size()), 1, 64);
        shareRanges(folders, h, step,
                    [this, move](std::int32_t, std::int32_t first, std::int32_t last) {
                        fixedGas->developFixed(ownSumPointers.data(),
                                               static_cast<std::int32_t>(ownSumPointers.size()),
                                               first, last, move, fixedEmpty);
                    });
    }

    void finishRound(Clock::time_point start) {
        if (developDue) develop();
        sink->betweenRounds();
        if (round == Round::Main && banded) ops->rebalance();
        plan();
        resetRound();
        stats.betweenRoundsSeconds += secondsSince(start);
        released = Clock::now();
    }

    RenderOutcome run(RenderSink& s, RenderControl& c) {
        sink = &s;
        control = &c;
        outcome = RenderOutcome{};
        outcome.interval = interval;
        const auto runStart = Clock::now();
        const Random31 saved = threadRandom31();
        if (total > 0 && counter() == 0) control->progress.store(0.0, std::memory_order_relaxed);
        if (!cloned) {
            for (Stream& st : streams) st.state.diverged = true;
        }
        plan();
        resetRound();
        if (threadCount == 1)
            runAlone();
        else
            runPool();
        // The target's fixedDensity and density hold every point plotted: the threads' sums
        // move into fixedDensity by rows, on as many threads as the render had.
        if (fixedGas && (!ownSums.empty() || foldedAt != counter())) {
            foldedAt = counter();
            DevelopThreads folders(started);
            foldSums(&folders, true);
            fixedEmpty = false;
        }
        // The target's own orbit memory (the Light family's) is left as the render found it:
        // the streams keep theirs, and a second render of the same scene starts from the same
        // colour as the first.
        threadRandom31() = saved;
        stats.wallSeconds += secondsSince(runStart);
        outcome.counter = counter();
        outcome.diverged = anyDiverged();
        outcome.stopped = control->stopRequested.load(std::memory_order_relaxed);
        outcome.needsFinalDevelop = interval == 0 || outcome.counter % interval != 0;
        return outcome;
    }

    void runAlone() {
        alignas(64) Vecd block[kBlock];
        ThreadTimes times;
        const double cpu = threadCpuSeconds();
        while (round != Round::Quit) {
            if (banded) {
                workRound(0, block, times);
            } else {
                const auto t = Clock::now();
                for (std::int32_t k = 0; k < streamCount; ++k) runStream(k, block, true, 0);
                times.streams += secondsSince(t);
            }
            endRound(false);
        }
        stats.streamPhaseBusy += times.streams;
        stats.bandPhaseBusy += times.bands;
        stats.cpuSeconds += threadCpuSeconds() - cpu;
    }

    struct ThreadTimes {
        double streams = 0, bands = 0, idle = 0, wake = 0;
    };

    // Band b takes the streams that are ready, in order, unless another thread holds it. True
    // when it has had every stream of the round.
    bool advanceBand(std::int32_t b, ThreadTimes& times) {
        BandProgress& p = bandProgress[static_cast<std::size_t>(b)];
        if (p.held.load(std::memory_order_relaxed) ||
            p.held.exchange(true, std::memory_order_acquire))
            return false;
        const std::int32_t from = p.applied;
        std::int32_t k = from;
        if (k < streamCount && ready[static_cast<std::size_t>(k)].load(std::memory_order_acquire)) {
            const auto t = Clock::now();
            do {
                ops->band(b, k);
                ++k;
            } while (k < streamCount &&
                     ready[static_cast<std::size_t>(k)].load(std::memory_order_acquire));
            times.bands += secondsSince(t);
        }
        p.applied = k;
        p.held.store(false, std::memory_order_release);
        if (k == streamCount && from < streamCount)
            bandsDone.fetch_add(1, std::memory_order_acq_rel);
        return k == streamCount;
    }

    // The next stream for thread `self`, or -1 when every stream of the round is taken.
    std::int32_t takeStream(std::int32_t self) {
        for (std::int32_t i = 0; i < threadCount; ++i) {
            const std::int32_t t = (self + i) % threadCount;
            std::atomic<std::int32_t>& next = cursor[static_cast<std::size_t>(t)].next;
            if (t + next.load(std::memory_order_relaxed) * threadCount >= streamCount) continue;
            const std::int32_t k = t + next.fetch_add(1, std::memory_order_relaxed) * threadCount;
            if (k < streamCount) return k;
        }
        return -1;
    }

    // Thread `self`'s part of a round. It runs streams (takeStream), and after each brings
    // its own band up to date with the streams that are ready, so that a band reads a stream's
    // splats soon after they were written. When no stream is left it helps every band.
    void workRound(std::int32_t self, Vecd* block, ThreadTimes& times) {
        if (!banded) {
            runChunks(self, block, times);
            return;
        }
        const bool plot = round == Round::Main;
        const std::int32_t bands = ops ? ops->bands() : 1;
        for (;;) {
            if (plot && self < bands) advanceBand(self, times);
            const std::int32_t k = takeStream(self);
            if (k >= 0) {
                const auto t = Clock::now();
                runStream(k, block, false, self);
                times.streams += secondsSince(t);
                ready[static_cast<std::size_t>(k)].store(true, std::memory_order_release);
                continue;
            }
            if (!plot) return;
            const auto t = Clock::now();
            for (std::int32_t spins = 1;; ++spins) {
                for (std::int32_t b = 0; b < bands; ++b) advanceBand((self + b) % bands, times);
                if (bandsDone.load(std::memory_order_acquire) == bands) break;
                // The wait is for a stream or a band another thread is on; if that thread has
                // lost its processor, give ours up rather than spin.
                if (spins > 1024)
                    std::this_thread::yield();
                else
                    pause();
            }
            times.idle += secondsSince(t);
            return;
        }
    }

    // Each thread plots into its own fixed-point sums, so any thread may run any stream, a
    // chunk at a time: a thread takes the free stream with the most work left, which keeps
    // the threads' ends of a round within a chunk of each other. A stream's chunks still run
    // one after the other, in order.
    void runChunks(std::int32_t self, Vecd* block, ThreadTimes& times) {
        constexpr std::int32_t kChunk = 2048;
        const auto t = Clock::now();
        std::int32_t k = -1;  // the stream this thread ran last, preferred while it is longest
        for (;;) {
            std::int32_t best = -1, most = 0;
            for (std::int32_t i = 0; i < streamCount; ++i) {
                const std::int32_t j = (k < 0 ? self + i : k + i) % streamCount;
                const StreamSlot& slot = slots[static_cast<std::size_t>(j)];
                const std::int32_t left = slot.left.load(std::memory_order_relaxed);
                if (left > most && !slot.busy.load(std::memory_order_relaxed)) {
                    best = j;
                    most = left;
                }
            }
            if (best < 0) break;
            StreamSlot& slot = slots[static_cast<std::size_t>(best)];
            if (slot.busy.exchange(true, std::memory_order_acquire)) continue;
            const std::int32_t left = slot.left.load(std::memory_order_relaxed);
            const std::int32_t n = std::min(left, kChunk);
            if (n > 0) {
                runStream(best, block, true, self, n);
                slot.left.store(
                    streams[static_cast<std::size_t>(best)].state.diverged ? 0 : left - n,
                    std::memory_order_relaxed);
            }
            slot.busy.store(false, std::memory_order_release);
            k = best;
        }
        times.streams += secondsSince(t);
    }

    // Ready for the next round's streams and bands; alone, between rounds.
    void resetRound() {
        if (!banded && threadCount > 1)
            for (std::int32_t k = 0; k < streamCount; ++k)
                slots[static_cast<std::size_t>(k)].left.store(
                    streams[static_cast<std::size_t>(k)].planned, std::memory_order_relaxed);
        for (std::int32_t k = 0; k < streamCount; ++k)
            ready[static_cast<std::size_t>(k)].store(false, std::memory_order_relaxed);
        if (ops)
            for (std::int32_t b = 0; b < ops->bands(); ++b)
                bandProgress[static_cast<std::size_t>(b)].applied = 0;
        bandsDone.store(0, std::memory_order_relaxed);
        for (std::int32_t t = 0; t < threadCount; ++t)
            cursor[static_cast<std::size_t>(t)].next.store(0, std::memory_order_relaxed);
    }

    void runPool() {
        std::vector<ThreadTimes> times(static_cast<std::size_t>(threadCount));
        std::vector<double> cpu(static_cast<std::size_t>(threadCount), 0.0);
        PhaseBarrier barrier(threadCount);
        Team poolTeam(*this, &barrier);
        team = &poolTeam;
        bool developing = false;
        auto roundEnd = [this, &developing] { developing = endRound(true); };
        auto developEnd = [this] { finishRound(Clock::now()); };
        auto work = [&](std::int32_t self) {
            const auto me = static_cast<std::size_t>(self);
            const double cpuStart = threadCpuSeconds();
            alignas(64) Vecd block[kBlock];
            while (round != Round::Quit) {
                workRound(self, block, times[me]);
                barrier.arriveAndWait(roundEnd);
                if (developing) {
                    if (self == 0) {
                        const auto t = Clock::now();
                        develop();
                        poolTeam.finish();
                        stats.betweenRoundsSeconds += secondsSince(t);
                    } else {
                        poolTeam.serve(self);
                    }
                    barrier.arriveAndWait(developEnd);
                }
                times[me].wake += secondsSince(released);
            }
            cpu[me] = threadCpuSeconds() - cpuStart;
        };
        // The helpers wait at the gate until every thread that could be started is counted in
        // the barrier.
        std::atomic<bool> gate{false};
        std::vector<std::thread> helpers;
        helpers.reserve(static_cast<std::size_t>(threadCount - 1));
        for (std::int32_t b = 1; b < threadCount; ++b) {
            try {
                const std::int32_t self = static_cast<std::int32_t>(helpers.size()) + 1;
                helpers.emplace_back([&, self] {
                    if (onThreadStart) onThreadStart();
                    gate.wait(false, std::memory_order_acquire);
                    work(self);
                });
            } catch (const std::system_error&) {
                // No thread (a process limit): the render goes on with those it has.
                break;
            }
        }
        started = static_cast<std::int32_t>(helpers.size()) + 1;
        barrier.setThreads(started);
        gate.store(true, std::memory_order_release);
        gate.notify_all();
        work(0);
        for (std::thread& h : helpers) h.join();
        team = &aloneTeam;
        for (std::int32_t b = 0; b < started; ++b) {
            const ThreadTimes& t = times[static_cast<std::size_t>(b)];
            stats.streamPhaseBusy += t.streams;
            stats.bandPhaseBusy += t.bands;
            stats.idleSeconds += t.idle;
            stats.wakeSeconds += t.wake / started;
            stats.cpuSeconds += cpu[static_cast<std::size_t>(b)];
        }
    }
};

RenderEngine::RenderEngine(const Attractor& attractor, TBitmap3D& target,
                           const EngineSettings& settings)
    : impl_(std::make_unique<Impl>(attractor, target, settings)) {}

RenderEngine::~RenderEngine() = default;

RenderOutcome RenderEngine::run(RenderSink& sink, RenderControl& control) {
    return impl_->run(sink, control);
}

std::vector<StreamState> RenderEngine::streamStates() const {
    std::vector<StreamState> states;
    states.reserve(impl_->streams.size());
    for (const auto& s : impl_->streams) {
        states.push_back(s.state);
        if (s.orbit) states.back().orbitMemory = s.orbit->orbitMemory();
    }
    return states;
}

bool RenderEngine::startFrom(const std::vector<StreamState>& states) {
    if (states.size() != impl_->streams.size() || !impl_->cloned) return false;
    const Random31 saved = threadRandom31();  // a restart may seed it
    for (std::size_t k = 0; k < states.size(); ++k) {
        auto& s = impl_->streams[k];
        s.state = states[k];
        s.orbit->restart();
        s.orbit->setCurrentPoint(states[k].point);
        s.orbit->setOrbitMemory(states[k].orbitMemory);
    }
    threadRandom31() = saved;
    return true;
}

bool RenderEngine::pendingFixedSums(std::vector<std::int64_t>& out) const {
    const Impl& e = *impl_;
    if (!e.fixedGas || e.ownSums.empty()) return false;
    out = e.fixedGas->fixedDensity;
    for (const GasFixedSums& own : e.ownSums)
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = addFixedSums(out[i], own.at(i));
    return true;
}

void RenderEngine::setThreadStart(std::function<void()> onThreadStart) {
    impl_->onThreadStart = std::move(onThreadStart);
}

std::int64_t RenderEngine::counter() const {
    return impl_->counter();
}
std::int32_t RenderEngine::streams() const {
    return impl_->streamCount;
}
std::int32_t RenderEngine::threads() const {
    return impl_->threadCount;
}
std::int32_t RenderEngine::shard() const {
    return impl_->shard;
}
std::int32_t RenderEngine::shards() const {
    return impl_->shardCount;
}
const EngineStats& RenderEngine::stats() const {
    return impl_->stats;
}

}  // namespace qm
