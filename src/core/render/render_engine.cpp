#include "core/render/render_engine.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <ctime>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/solid.h"

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

// Points stepped per call of the attractor, inside a stream's share of a round.
constexpr std::int32_t kBlock = 512;

// ---------------------------------------------------------------------------------------------
// What a mode does in the two phases. A stream's splats go into lists of entries (the cell,
// its weights, and what the mode adds: depth, colour) with the cell's row beside them, one
// list per buffer family (the camera image; Solid's light maps each have their own).

template <class Entry>
struct SplatList {
    std::vector<Entry> entries;
    std::vector<std::int32_t> rows;
    std::int32_t used = 0;

    void reserve(std::size_t n) {
        entries.resize(n);
        rows.resize(n);
    }
    QM_HOT_INLINE void add(const Entry& e, std::int32_t row) {
        entries[static_cast<std::size_t>(used)] = e;
        rows[static_cast<std::size_t>(used)] = row;
        ++used;
    }
};

// Rows [r0, r1) of a buffer of `height` rows for band b of n.
void bandRows(std::int32_t b, std::int32_t n, std::int32_t height, std::int32_t& r0,
              std::int32_t& r1) {
    r0 = static_cast<std::int32_t>(std::int64_t{height} * b / n);
    r1 = static_cast<std::int32_t>(std::int64_t{height} * (b + 1) / n);
}

// The part of every listed splat that falls in rows [r0, r1), in list order: a splat of cell
// row j writes rows j and j + 1, so the band takes the splats of rows r0 - 1 to r1 - 1 and
// writes only its own pixels. pixel(entry, index, weight) updates one pixel; the pixels of a
// splat do not depend on each other, so splitting a splat between two bands changes nothing.
template <class Entry, class Pixel>
QM_HOT_INLINE void scanBand(const SplatList<Entry>& list, std::int32_t r0, std::int32_t r1,
                            std::int32_t width, Pixel&& pixel) {
    if (r0 >= r1) return;
    const std::int32_t lo = r0 - 1;
    const auto span = static_cast<std::uint32_t>(r1 - lo);
    const std::int32_t* rows = list.rows.data();
    const Entry* entries = list.entries.data();
    for (std::int32_t e = 0; e < list.used; ++e) {
        const std::int32_t j = rows[e];
        if (static_cast<std::uint32_t>(j - lo) >= span) continue;
        const Entry& en = entries[e];
        const Splat& s = en.s;
        if (j >= r0) {
            pixel(en, s.index, s.w00);
            pixel(en, s.index + 1, s.w10);
        }
        if (j + 1 < r1) {
            pixel(en, s.index + width, s.w01);
            pixel(en, s.index + width + 1, s.w11);
        }
    }
}

class ModeOps {
public:
    virtual ~ModeOps() = default;
    // One thread: the block straight into the target, as the classic render plots it.
    virtual void plot(StreamState& stream, const Vecd* points, std::int32_t n) = 0;
    // Phase 1: the block of stream k into its lists.
    virtual void clearLists(std::int32_t k) = 0;
    virtual void prepare(std::int32_t k, StreamState& stream, const Vecd* points,
                         std::int32_t n) = 0;
    // Phase 2: band b of n over every stream's lists, in stream order.
    virtual void band(std::int32_t b, std::int32_t n) = 0;
};

// The lists of every stream for `families` buffer families.
template <class Entry>
class Banded : public ModeOps {
public:
    Banded(std::int32_t streams, std::int32_t families, bool banded)
        : streams_(streams),
          families_(families),
          lists_(banded ? static_cast<std::size_t>(streams * families) : 0) {
        // Each point may splat twice (its mirror image).
        for (auto& list : lists_) list.reserve(2 * static_cast<std::size_t>(roundPoints(streams)));
    }
    void clearLists(std::int32_t k) override {
        for (std::int32_t f = 0; f < families_; ++f) list(k, f).used = 0;
    }

protected:
    SplatList<Entry>& list(std::int32_t k, std::int32_t family) {
        return lists_[static_cast<std::size_t>(k * families_ + family)];
    }
    std::int32_t streams_, families_;
    std::vector<SplatList<Entry>> lists_;
};

// Gas: density += w.
struct GasEntry {
    Splat s;
};

class GasOps final : public Banded<GasEntry> {
public:
    GasOps(TBitmap3D_Gas& t, std::int32_t streams, bool banded)
        : Banded(streams, 1, banded), t_(t) {}
    void plot(StreamState&, const Vecd* points, std::int32_t n) override {
        t_.PlotBlock(points, n);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        SplatList<GasEntry>& out = list(k, 0);
        const TBitmap3D::SplatLimits limits(t_.imageWidth, t_.imageHeight);
        Vecd pixel[TBitmap3D::kSplatChunk], mirrored[TBitmap3D::kSplatChunk];
        auto add = [&](const Vecd& px) {
            GasEntry e;
            std::int32_t row;
            if (TBitmap3D::splatCell(px.x, px.y, limits, e.s, row)) out.add(e, row);
        };
        for (std::int32_t start = 0; start < n; start += TBitmap3D::kSplatChunk) {
            const std::int32_t count = std::min(TBitmap3D::kSplatChunk, n - start);
            t_.projectChunk<false>(points + start, count, 1.0, pixel);
            if (t_.mirror) {
                t_.projectChunk<false>(points + start, count, -1.0, mirrored);
                for (std::int32_t i = 0; i < count; ++i) {
                    add(pixel[i]);
                    add(mirrored[i]);
                }
            } else {
                for (std::int32_t i = 0; i < count; ++i) add(pixel[i]);
            }
        }
    }
    void band(std::int32_t b, std::int32_t n) override {
        std::int32_t r0, r1;
        bandRows(b, n, t_.imageHeight, r0, r1);
        float* d = t_.density.data();
        for (std::int32_t k = 0; k < streams_; ++k)
            scanBand(list(k, 0), r0, r1, t_.imageWidth,
                     [d](const GasEntry&, std::int32_t at, float w) { d[at] += w; });
    }

private:
    TBitmap3D_Gas& t_;
};

// Liquid and Plasma share the surface test; Light and Plasma the colour.
struct SurfaceEntry {
    Splat s;
    ColorRGBf c;  // Light family only
    float d;      // depth rounded to float (Liquid, Plasma)
};

class LiquidOps final : public Banded<SurfaceEntry> {
public:
    LiquidOps(TBitmap3D_Liquid& t, std::int32_t streams, bool banded)
        : Banded(streams, 1, banded), t_(t) {}
    void plot(StreamState&, const Vecd* points, std::int32_t n) override {
        t_.PlotBlock(points, n);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        SplatList<SurfaceEntry>& out = list(k, 0);
        const TBitmap3D::SplatLimits limits(t_.imageWidth, t_.imageHeight);
        Vecd pixel[TBitmap3D::kSplatChunk], mirrored[TBitmap3D::kSplatChunk];
        auto add = [&](const Vecd& px) {
            SurfaceEntry e;
            std::int32_t row;
            if (!TBitmap3D::splatCell(px.x, px.y, limits, e.s, row)) return;
            e.c = {0, 0, 0};
            e.d = static_cast<float>(px.z);
            out.add(e, row);
        };
        for (std::int32_t start = 0; start < n; start += TBitmap3D::kSplatChunk) {
            const std::int32_t count = std::min(TBitmap3D::kSplatChunk, n - start);
            t_.projectChunk<true>(points + start, count, 1.0, pixel);
            if (t_.mirror) {
                t_.projectChunk<true>(points + start, count, -1.0, mirrored);
                for (std::int32_t i = 0; i < count; ++i) {
                    add(pixel[i]);
                    add(mirrored[i]);
                }
            } else {
                for (std::int32_t i = 0; i < count; ++i) add(pixel[i]);
            }
        }
    }
    void band(std::int32_t b, std::int32_t n) override {
        std::int32_t r0, r1;
        bandRows(b, n, t_.imageHeight, r0, r1);
        float* density = t_.density.data();
        float* surface = t_.surface.data();
        const double depthRange = t_.depthRange, scale = t_.scale;
        for (std::int32_t k = 0; k < streams_; ++k)
            scanBand(list(k, 0), r0, r1, t_.imageWidth,
                     [&](const SurfaceEntry& e, std::int32_t at, float w) {
                         const float m = surfaceCoverage(surface[at], e.d, w, depthRange, scale);
                         if (m > 0) density[at] += w * m;
                     });
    }

private:
    TBitmap3D_Liquid& t_;
};

template <bool kPlasma>
class LightOps final : public Banded<SurfaceEntry> {
public:
    LightOps(TBitmap3D_Light& t, std::int32_t streams, bool banded)
        : Banded(streams, 1, banded), t_(t) {}
    void plot(StreamState& st, const Vecd* points, std::int32_t n) override {
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
        SplatList<SurfaceEntry>& out = list(k, 0);
        const TBitmap3D::SplatLimits limits(t_.imageWidth, t_.imageHeight);
        Vecd before = st.before, last = st.last;
        ColorRGBf color = st.plotColor;
        auto add = [&](const Vecd& px) {
            SurfaceEntry e;
            std::int32_t row;
            if (!TBitmap3D::splatCell(px.x, px.y, limits, e.s, row)) return;
            e.c = color;
            e.d = static_cast<float>(px.z);
            out.add(e, row);
        };
        for (std::int32_t i = 0; i < n; ++i) {
            const Vecd q = t_.advanceWith(before, last, color, points[i]);
            add(t_.project(q));
            if (t_.mirror) add(t_.project({q.x, q.y, -q.z}));
        }
        st.before = before;
        st.last = last;
        st.plotColor = color;
    }
    void band(std::int32_t b, std::int32_t n) override {
        std::int32_t r0, r1;
        bandRows(b, n, t_.imageHeight, r0, r1);
        ColorRGBf* light = t_.lightBuffer.data();
        if constexpr (kPlasma) {
            float* surface = static_cast<TBitmap3D_Plasma&>(t_).surface.data();
            const double depthRange = t_.depthRange, scale = t_.scale;
            for (std::int32_t k = 0; k < streams_; ++k)
                scanBand(list(k, 0), r0, r1, t_.imageWidth,
                         [&](const SurfaceEntry& e, std::int32_t at, float w) {
                             const float m =
                                 surfaceCoverage(surface[at], e.d, w, depthRange, scale);
                             if (!(m > 0)) return;
                             // colour x weight is rounded to float before the coverage factor
                             // applies.
                             ColorRGBf& c = light[at];
                             c.r += e.c.r * w * m;
                             c.g += e.c.g * w * m;
                             c.b += e.c.b * w * m;
                         });
        } else {
            for (std::int32_t k = 0; k < streams_; ++k)
                scanBand(list(k, 0), r0, r1, t_.imageWidth,
                         [light](const SurfaceEntry& e, std::int32_t at, float w) {
                             ColorRGBf& c = light[at];
                             c.r += e.c.r * w;
                             c.g += e.c.g * w;
                             c.b += e.c.b * w;
                         });
        }
    }

private:
    TBitmap3D_Light& t_;
};

// Solid: the camera's density and depth, and each light's two maps; family 0 is the camera,
// family 1 + i light i.
struct DepthEntry {
    Splat s;
    double d;
};

class SolidOps final : public Banded<DepthEntry> {
public:
    SolidOps(TBitmap3D_Solid& t, std::int32_t streams, bool banded)
        : Banded(streams, 1 + static_cast<std::int32_t>(t.lights.size()), banded), t_(t) {}
    void plot(StreamState&, const Vecd* points, std::int32_t n) override {
        t_.PlotBlock(points, n);
    }
    void prepare(std::int32_t k, StreamState&, const Vecd* points, std::int32_t n) override {
        const TBitmap3D::SplatLimits camera(t_.imageWidth, t_.imageHeight);
        SplatList<DepthEntry>& cameraList = list(k, 0);
        auto splat = [&](const Vecd& p) {
            const Vecd pixel = t_.project(p);
            DepthEntry e;
            std::int32_t row;
            if (TBitmap3D::splatCell(pixel.x, pixel.y, camera, e.s, row)) {
                e.d = pixel.z;
                cameraList.add(e, row);
            }
            for (std::size_t i = 0; i < t_.lights.size(); ++i) {
                const Light& light = *t_.lights[i];
                if (!light.hasMap()) continue;
                const Vecd m = light.mapCoordinates(p);
                if (!TBitmap3D::splatCell(m.x, m.y,
                                          TBitmap3D::SplatLimits(light.mapWidth, light.mapHeight),
                                          e.s, row))
                    continue;
                e.d = m.z;
                list(k, 1 + static_cast<std::int32_t>(i)).add(e, row);
            }
        };
        for (std::int32_t i = 0; i < n; ++i) {
            splat(points[i]);
            if (t_.mirror) splat({points[i].x, points[i].y, -points[i].z});
        }
    }
    void band(std::int32_t b, std::int32_t n) override {
        auto depthSample = [](float* density, float* depth) {
            return [density, depth](const DepthEntry& e, std::int32_t at, float w) {
                density[at] += w;
                float& z = depth[at];
                if (e.d < z) z = static_cast<float>(z * (1.0 - w) + w * e.d);
            };
        };
        std::int32_t r0, r1;
        bandRows(b, n, t_.imageHeight, r0, r1);
        const auto camera = depthSample(t_.density.data(), t_.depth.data());
        for (std::int32_t k = 0; k < streams_; ++k)
            scanBand(list(k, 0), r0, r1, t_.imageWidth, camera);
        for (std::size_t i = 0; i < t_.lights.size(); ++i) {
            Light& light = *t_.lights[i];
            if (!light.hasMap()) continue;
            bandRows(b, n, light.mapHeight, r0, r1);
            const auto map = depthSample(light.mapDensity.data(), light.mapDepth.data());
            for (std::int32_t k = 0; k < streams_; ++k)
                scanBand(list(k, 1 + static_cast<std::int32_t>(i)), r0, r1, light.mapWidth, map);
        }
    }

private:
    TBitmap3D_Solid& t_;
};

std::unique_ptr<ModeOps> makeOps(TBitmap3D& target, std::int32_t streams, bool banded) {
    switch (target.renderMode()) {
        case RenderMode::Gas:
            return std::make_unique<GasOps>(static_cast<TBitmap3D_Gas&>(target), streams, banded);
        case RenderMode::Liquid:
            return std::make_unique<LiquidOps>(static_cast<TBitmap3D_Liquid&>(target), streams,
                                               banded);
        case RenderMode::Light:
            return std::make_unique<LightOps<false>>(static_cast<TBitmap3D_Light&>(target), streams,
                                                     banded);
        case RenderMode::Plasma:
            return std::make_unique<LightOps<true>>(static_cast<TBitmap3D_Light&>(target), streams,
                                                    banded);
        case RenderMode::Solid:
            return std::make_unique<SolidOps>(static_cast<TBitmap3D_Solid&>(target), streams,
                                              banded);
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
    EngineStats stats;

    // The run in progress.
    Round round = Round::Quit;
    RenderSink* sink = nullptr;
    RenderControl* control = nullptr;
    RenderOutcome outcome;
    std::atomic<std::int32_t> nextStream{0};
    std::atomic<std::int32_t> nextBand{0};
    std::vector<double> streamBusy, bandBusy, wake, streamCpu, bandCpu;  // per thread
    Clock::time_point released;  // when the last barrier let go

    Impl(const Attractor& attractor, TBitmap3D& t, const EngineSettings& s) : target(t) {
        streamCount = std::clamp(s.streams, 1, kMaxStreams);
        threadCount = s.threads <= 0 ? defaultThreadCount() : std::min(s.threads, kMaxThreads);
        total = std::max<std::int64_t>(s.totalIterations, 0);
        interval = total / std::max(s.updates, 1);
        onThreadStart = s.onThreadStart;
        shardCount = std::clamp(s.shards, 1, streamCount);
        shard = std::clamp(s.shard, 0, shardCount - 1);
        light = target.isLightFamily() ? static_cast<TBitmap3D_Light*>(&target) : nullptr;
        // One thread runs the two phases as well, except in Gas: grouping a round's splats
        // buffer by buffer (Solid's camera and light maps) and apart from the colouring (Light,
        // Plasma) is faster than plotting each block at once, while Gas's own block splat is
        // faster than the lists. Both give the same bytes.
        banded = threadCount > 1 || target.renderMode() != RenderMode::Gas;
        ops = makeOps(target, streamCount, banded);
        streams.resize(static_cast<std::size_t>(streamCount));
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
            std::int64_t{roundPoints(streamCount)} * streamCount, total - now);
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

    // Stream k's share of the round: iterated, and plotted (one thread) or listed (phase 1).
    void runStream(std::int32_t k, Vecd* block, bool direct) {
        Stream& s = streams[static_cast<std::size_t>(k)];
        const bool plot = round == Round::Main;
        if (plot && !direct) ops->clearLists(k);
        if (k % shardCount != shard) {
            // Another shard's stream: counted, not run.
            s.state.count += static_cast<std::uint64_t>(s.planned);
            return;
        }
        Random31& rng = threadRandom31();
        rng.state = s.state.random;
        std::int64_t done = 0;
        while (done < s.planned) {
            const auto want =
                static_cast<std::int32_t>(std::min<std::int64_t>(kBlock, s.planned - done));
            const std::int32_t got = s.orbit->iterateBlock(block, want);
            done += got;
            if (plot) {
                if (direct)
                    ops->plot(s.state, block, got);
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

    // Between rounds, on one thread while the others wait.
    void endRound() {
        const auto start = Clock::now();
        ++stats.rounds;
        const std::int64_t now = counter();
        control->counter.store(now, std::memory_order_relaxed);
        if (round == Round::Main) {
            control->progress.store(static_cast<double>(now) / static_cast<double>(total),
                                    std::memory_order_relaxed);
            if (interval > 0 && (now + 1) % interval == 0) {
                const auto developStart = Clock::now();
                sink->develop();
                stats.developSeconds += secondsSince(developStart);
                ++outcome.developments;
            }
        }
        sink->betweenRounds();
        plan();
        nextStream.store(0, std::memory_order_relaxed);
        stats.betweenRoundsSeconds += secondsSince(start);
        released = Clock::now();
    }

    struct Completion {
        Impl* impl;
        void operator()() noexcept {
            impl->nextBand.store(0, std::memory_order_relaxed);
            impl->released = Clock::now();
        }
    };
    struct RoundEnd {
        Impl* impl;
        void operator()() noexcept { impl->endRound(); }
    };

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
        if (threadCount == 1)
            runAlone();
        else
            runPool();
        threadRandom31() = saved;
        if (light) {
            light->before = streams[0].state.before;
            light->last = streams[0].state.last;
            light->plotColor = streams[0].state.plotColor;
        }
        stats.wallSeconds += secondsSince(runStart);
        outcome.counter = counter();
        outcome.diverged = anyDiverged();
        outcome.stopped = control->stopRequested.load(std::memory_order_relaxed);
        outcome.needsFinalDevelop = interval == 0 || outcome.counter % interval != 0;
        return outcome;
    }

    void runAlone() {
        alignas(64) Vecd block[kBlock];
        while (round != Round::Quit) {
            const auto t = Clock::now();
            const double c = threadCpuSeconds();
            for (std::int32_t k = 0; k < streamCount; ++k) runStream(k, block, !banded);
            stats.streamPhaseBusy += secondsSince(t);
            stats.streamPhaseCpu += threadCpuSeconds() - c;
            if (banded && round == Round::Main) {
                const auto tb = Clock::now();
                const double cb = threadCpuSeconds();
                ops->band(0, 1);
                stats.bandPhaseBusy += secondsSince(tb);
                stats.bandPhaseCpu += threadCpuSeconds() - cb;
            }
            endRound();
        }
    }

    void runPool() {
        streamBusy.assign(static_cast<std::size_t>(threadCount), 0.0);
        bandBusy.assign(static_cast<std::size_t>(threadCount), 0.0);
        wake.assign(static_cast<std::size_t>(threadCount), 0.0);
        streamCpu.assign(static_cast<std::size_t>(threadCount), 0.0);
        bandCpu.assign(static_cast<std::size_t>(threadCount), 0.0);
        std::barrier phaseEnd(threadCount, Completion{this});
        std::barrier roundEnd(threadCount, RoundEnd{this});
        auto work = [&](std::int32_t b) {
            alignas(64) Vecd block[kBlock];
            while (round != Round::Quit) {
                auto t = Clock::now();
                double c = threadCpuSeconds();
                for (std::int32_t k = nextStream.fetch_add(1, std::memory_order_relaxed);
                     k < streamCount; k = nextStream.fetch_add(1, std::memory_order_relaxed))
                    runStream(k, block, false);
                streamBusy[static_cast<std::size_t>(b)] += secondsSince(t);
                streamCpu[static_cast<std::size_t>(b)] += threadCpuSeconds() - c;
                phaseEnd.arrive_and_wait();
                wake[static_cast<std::size_t>(b)] += secondsSince(released);
                if (round == Round::Main) {
                    t = Clock::now();
                    c = threadCpuSeconds();
                    // Bands are taken like streams: a thread the system would not start
                    // leaves its band to the others.
                    for (std::int32_t band = nextBand.fetch_add(1, std::memory_order_relaxed);
                         band < threadCount;
                         band = nextBand.fetch_add(1, std::memory_order_relaxed))
                        ops->band(band, threadCount);
                    bandBusy[static_cast<std::size_t>(b)] += secondsSince(t);
                    bandCpu[static_cast<std::size_t>(b)] += threadCpuSeconds() - c;
                }
                roundEnd.arrive_and_wait();
                wake[static_cast<std::size_t>(b)] += secondsSince(released);
            }
        };
        std::vector<std::thread> helpers;
        helpers.reserve(static_cast<std::size_t>(threadCount - 1));
        for (std::int32_t b = 1; b < threadCount; ++b) {
            try {
                helpers.emplace_back([&, b] {
                    if (onThreadStart) onThreadStart();
                    work(b);
                });
            } catch (const std::system_error&) {
                // No thread (a process limit): the render goes on with those it has.
                phaseEnd.arrive_and_drop();
                roundEnd.arrive_and_drop();
            }
        }
        work(0);
        for (std::thread& h : helpers) h.join();
        for (std::int32_t b = 0; b < threadCount; ++b) {
            stats.streamPhaseBusy += streamBusy[static_cast<std::size_t>(b)];
            stats.bandPhaseBusy += bandBusy[static_cast<std::size_t>(b)];
            stats.wakeSeconds += wake[static_cast<std::size_t>(b)] / threadCount;
            stats.streamPhaseCpu += streamCpu[static_cast<std::size_t>(b)];
            stats.bandPhaseCpu += bandCpu[static_cast<std::size_t>(b)];
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
