// RenderEngine: one render on every core. A render of N iterations runs as S independent
// streams (orbits with their own random31), carried by T threads, and the image does not
// depend on T: the same attractor, target, settings and render seed give the same bytes with
// 1 or 64 threads. With S = 1 the render is the classic one of runRender, byte for byte.
//
// How a render runs:
//   - Stream starts. S = 1: the classic orbit (the attractor restarted, generator state 0).
//     S > 1: the classic orbit (restarted, generator state 0) is walked once; stream k starts
//     where it is after 1000 + k * kStreamStride iterations, with its own generator seeded by
//     streamSeed(renderSeed, k), and its point nudged by three draws of that generator (a
//     relative 1e-9, see startStreams) so that the deterministic kinds leave the orbit their
//     neighbours retrace. Every stream then runs its own transient of 1000 unplotted
//     iterations.
//   - Rounds. Each round gives every stream up to roundPoints(S) iterations (the round's total,
//     cut where a development falls due or the render ends, is shared evenly in stream order:
//     stream k gets B / S, plus one when k < B % S). Each stream iterates and projects its
//     share and keeps every splat by band of image rows (and of Solid's light-map rows), the
//     bands balanced by the last round's splats (splat_bands.h); the Light family colours its
//     points here, from the stream's own orbit memory, one call late. Each band applies the
//     streams' splats that fall in its rows, stream 0's first, as soon as each stream has
//     run. Every pixel thus sees its points in the same order whatever T is, so the
//     order-dependent rules (Liquid's and Plasma's surface test, Solid's depth blend) come
//     out the same. Thread t runs streams t, t + T, ... and band t, then helps with what is
//     left; the threads meet once per round. With T = 1 in Gas each stream's block goes
//     straight to the target's PlotBlock, in stream order, which is the same sequence.
//   - Gas with S > 1 sums in fixed point (gas.h): integer sums do not depend on their order,
//     so every thread plots the streams it runs straight into a buffer of its own (with atomic
//     additions into one buffer when memory is short), taking any stream a chunk at a time,
//     and the buffers are added up, by rows on every thread, before each development. Its
//     rounds are kFixedRounds times longer. S = 1 keeps the classic float sums.
//   - Counting. The counter is the sum of every stream's iterations, transients included.
//     A development happens when (counter + 1) is a multiple of total / updates, after the
//     transients, exactly as in runRender. A diverged stream ends the render after its round.
//   - Developments. Every thread takes part: the sink's develop() runs on the thread that
//     called run, with the engine's threads lent to the target (TBitmap3D::setDevelopTeam),
//     so that a BuildImage or BuildImage16 in it shares its rows among them while the
//     streams wait; the image is the same bytes as one thread's.
//
// The state of a render between rounds is the target's buffers plus streamStates(); a render
// continues exactly from startFrom(states) on a target whose buffers hold what they held
// then. Inside RenderSink::develop and RenderSink::betweenRounds, and after run returns, both
// agree. run may be called again after a stop request to go on.
//
//   RenderEngine engine(attractor, target, settings);  // target cleared, attractor as set
//   RenderOutcome outcome = engine.run(sink, control);
//   if (outcome.needsFinalDevelop) buildImageOn(target, engine.threads());  // develop_team.h
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_loop.h"

namespace qm {

inline constexpr std::int32_t kMaxStreams = 256;
inline constexpr std::int32_t kMaxThreads = 256;
inline constexpr std::int32_t kDefaultStreams = 16;
// The walk between two streams' start points on the classic orbit.
inline constexpr std::int32_t kStreamStride = 1000;
// Iterations per stream per round: 4096 up to 16 streams, then fewer, so that a round's
// lists stay about the same size (65536 points); at least 256. Part of what fixes the image:
// where a round is cut, every stream's share changes.
constexpr std::int32_t roundPoints(std::int32_t streams) {
    const std::int32_t n = 65536 / (streams < 1 ? 1 : streams);
    return n > 4096 ? 4096 : n < 256 ? 256 : n;
}

// Gas with several streams sums in fixed point and needs no lists: its rounds are this many
// times longer, so that the threads meet less often.
inline constexpr std::int32_t kFixedRounds = 16;

// Everything a stream carries from one round to the next. Plain values: a state file stores
// them as they are.
struct StreamState {
    Vecd point{0, 0, 0};       // the orbit's current point
    std::uint64_t random = 0;  // the stream's random31 state
    std::uint64_t count = 0;   // iterations of this stream, transient included
    bool diverged = false;
    // The Light family's orbit memory (zero in the other modes): the two last points and the
    // colour of the last plotted one.
    Vecd before{0, 0, 0};
    Vecd last{0, 0, 0};
    ColorRGBf plotColor{0, 0, 0};
    // The kind's own orbit memory (Attractor::orbitMemory; empty but for Julia).
    std::vector<double> orbitMemory;

    friend bool operator==(const StreamState&, const StreamState&) = default;
};

// The generator state of stream k for a render seed: splitmix64 of splitmix64(seed) xor k.
// Fixed: changing it changes every multi-stream image.
std::uint64_t streamSeed(std::uint64_t renderSeed, std::int32_t k);

// The processors this process may run on (its affinity mask, else the hardware's count),
// 1 to kMaxThreads.
std::int32_t defaultThreadCount();

struct EngineSettings {
    std::int64_t totalIterations = 20000000;
    std::int32_t updates = 10;     // values below 1 count as 1
    std::int32_t streams = 1;      // 1 to kMaxStreams
    std::int32_t threads = 1;      // 1 to kMaxThreads; 0 for defaultThreadCount()
    std::uint64_t renderSeed = 0;  // not used with one stream
    // Called first on each thread the engine starts (not on the caller's), e.g. to lower its
    // priority.
    std::function<void()> onThreadStart;
    // One shard of a render split over machines: only the streams k with k % shards == shard
    // are iterated and plotted. The others are counted as if they had run their shares, so
    // that the rounds, the developments and every owned stream's orbit are exactly those of
    // the whole render; their records keep their start. shards is clamped to 1 .. streams.
    std::int32_t shard = 0;
    std::int32_t shards = 1;
};

// Time spent by a run, for the benchmarks: wall time of the rounds; the time the threads
// spent running streams and applying bands (summed over threads, wall time while at work:
// the processor time they took on an otherwise idle machine); the time outside them (the
// bookkeeping between rounds, developments included, the developments alone, the waits at
// the end of a round for the last bands, and the barrier's wake-up); and the processor time
// of every thread of the run.
struct EngineStats {
    std::int64_t rounds = 0;
    double wallSeconds = 0;
    double streamPhaseBusy = 0;
    double bandPhaseBusy = 0;
    double betweenRoundsSeconds = 0;
    double developSeconds = 0;
    // Of developSeconds, the wall time of the work every thread shares: the fold of Gas's
    // fixed-point sums, and the peaks and rows of the target's development where the sink
    // develops it (BuildImage); the rest of it runs on one thread.
    double developParallelSeconds = 0;
    // Of developParallelSeconds, the fold of Gas's fixed-point sums.
    double foldSeconds = 0;
    // Summed over threads: waiting for other threads' bands once no stream is left.
    double idleSeconds = 0;
    // How long a thread takes, on average, to resume after the round's barrier lets it go.
    double wakeSeconds = 0;
    // Processor time, summed over threads (where the system measures it).
    double cpuSeconds = 0;
    // The memory each thread beyond the first adds: a band's lists of every stream, or Gas's
    // fixed-point sums.
    std::uint64_t bytesPerAddedThread = 0;
};

class RenderEngine {
public:
    // Takes the render's streams from the attractor (which it copies and never iterates) and
    // the Light family's orbit memory from the target; the caller has cleared the target.
    // Settings out of range are clamped.
    RenderEngine(const Attractor& attractor, TBitmap3D& target, const EngineSettings& settings);
    ~RenderEngine();
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    // Runs rounds until the total, a stop request or a divergence; develops through the sink.
    // The target's orbit memory (the Light family's last points and plot colour) is not
    // changed: the image depends on the scene, not on what an earlier render left.
    RenderOutcome run(RenderSink& sink, RenderControl& control);

    // The streams after the last completed round.
    std::vector<StreamState> streamStates() const;
    // Continues from states of a render with the same attractor, target settings, stream
    // count and total. False (nothing changed) when the count of states is not the engine's.
    bool startFrom(const std::vector<StreamState>& states);

    // Gas with several streams adds in fixed point (gas.h), each thread into a buffer of its
    // own where memory allows; the target's fixedDensity holds every point only after a
    // development and when run returns. Between rounds, the whole sums: true with them in out,
    // false (out untouched) when fixedDensity already has them all.
    bool pendingFixedSums(std::vector<std::int64_t>& out) const;

    // Replaces EngineSettings::onThreadStart, e.g. for an engine made elsewhere (a resumed
    // render); before run.
    void setThreadStart(std::function<void()> onThreadStart);

    std::int64_t counter() const;
    std::int32_t streams() const;
    std::int32_t threads() const;
    std::int32_t shard() const;
    std::int32_t shards() const;
    const EngineStats& stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm
