// The parallel render engine: iterations per second for 1 and 2 threads, 1 and 16 streams,
// every mode, a Lorenz flow and a four-map IFS, at 640x480 and 2048x2048; next to it the
// yardstick of two cores, two single-thread renders of half the work each running side by
// side (two engines on two threads of this process, sharing nothing).
//
// Each run renders 4,000,000 iterations (transients included) with one development at the
// end left out: the timed part is the engine's run alone. Counters: outside_fraction is the
// share of the wall time spent outside the parallel work (the bookkeeping between rounds and
// the barrier's wake-up), amdahl_N the speed-up it alone would allow on N cores;
// idle_fraction the share of the threads' time spent waiting for the last bands of a round;
// stream_ns, band_ns and cpu_ns the time at work and the processor time per iteration;
// thread_mib the memory each thread beyond the first adds (lists, or Gas's own sums).
//
// Shared machine: run with --benchmark_enable_random_interleaving=true
// --benchmark_repetitions=5 --benchmark_report_aggregates_only=true and read the medians.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "core/attractor/ifs.h"
#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"

namespace {

using namespace qm;

constexpr std::int64_t kIterations = 4000000;

std::unique_ptr<Attractor> makeLorenz() {
    auto a = std::make_unique<Lorenz_2L>();
    a->A = 10;
    a->B = 28;
    a->C = 8.0 / 3;
    a->dT = 0.005;
    a->restart();
    return a;
}

// Four maps that shrink by half towards the corners of a tetrahedron.
std::unique_ptr<Attractor> makeIfs() {
    auto ifs = std::make_unique<IFS>(4);
    ifs->setCoefficientMode(true);
    const double corners[4][3] = {{1, 1, 1}, {-1, -1, 1}, {-1, 1, -1}, {1, -1, -1}};
    for (int i = 0; i < 4; ++i) {
        double* m = ifs->matrix(i);
        m[0] = m[4] = m[8] = 0.5;
        m[9] = corners[i][0] * 0.5;
        m[10] = corners[i][1] * 0.5;
        m[11] = corners[i][2] * 0.5;
        ifs->probability(i) = 0.25;
    }
    ifs->setSeed(1);
    ifs->restart();
    return ifs;
}

struct Scene {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
    Scene(int kind, int mode, int side) {
        attractor = kind == 0 ? makeLorenz() : makeIfs();
        target = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        }
        target->SetWidth(side);
        target->SetHeight(side == 640 ? 480 : side);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit);
    }
};

struct NoDevelop final : RenderSink {
    void develop() override {}
};

std::string label(int kind, int mode, int side) {
    static const char* const kModes[] = {"Gaz", "Liquide", "Lumiere", "Plasma", "Solide"};
    return std::string(kind == 0 ? "lorenz" : "ifs4") + "/" + kModes[mode] + "/" +
           (side == 640 ? "640x480" : "2048x2048");
}

// Args: kind (0 Lorenz, 1 IFS), mode, image side (640 or 2048), streams, threads.
void BM_Engine(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0)), mode = static_cast<int>(state.range(1));
    const int side = static_cast<int>(state.range(2));
    const auto streams = static_cast<std::int32_t>(state.range(3));
    const auto threads = static_cast<std::int32_t>(state.range(4));
    Scene scene(kind, mode, side);
    EngineStats stats;
    for (auto _ : state) {
        state.PauseTiming();
        scene.target->ClearImage();
        RenderEngine engine(*scene.attractor, *scene.target,
                            {kIterations, 1, streams, threads, 0, {}});
        RenderControl control;
        NoDevelop sink;
        state.ResumeTiming();
        engine.run(sink, control);
        state.PauseTiming();
        const EngineStats& s = engine.stats();
        stats.wallSeconds += s.wallSeconds;
        stats.betweenRoundsSeconds += s.betweenRoundsSeconds - s.developSeconds;
        stats.wakeSeconds += s.wakeSeconds;
        stats.idleSeconds += s.idleSeconds;
        stats.rounds += s.rounds;
        stats.streamPhaseBusy += s.streamPhaseBusy;
        stats.bandPhaseBusy += s.bandPhaseBusy;
        stats.cpuSeconds += s.cpuSeconds;
        stats.bytesPerAddedThread = s.bytesPerAddedThread;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kIterations);
    state.SetLabel(label(kind, mode, side));
    const double f = stats.wallSeconds > 0
                         ? (stats.betweenRoundsSeconds + stats.wakeSeconds) / stats.wallSeconds
                         : 0;
    state.counters["outside_fraction"] = f;
    // The bookkeeping between rounds alone, without the barrier's wake-up (which on a busy
    // machine is mostly the time a thread waits for a processor).
    state.counters["serial_fraction"] =
        stats.wallSeconds > 0 ? stats.betweenRoundsSeconds / stats.wallSeconds : 0;
    // The share of the threads' time spent waiting for the last bands of a round.
    state.counters["idle_fraction"] =
        stats.wallSeconds > 0 ? stats.idleSeconds / (threads * stats.wallSeconds) : 0;
    // Per iteration, all threads together, in nanoseconds: the time at work on streams and on
    // bands, and the processor time.
    const double points = static_cast<double>(state.iterations()) * kIterations;
    state.counters["stream_ns"] = stats.streamPhaseBusy / points * 1e9;
    state.counters["band_ns"] = stats.bandPhaseBusy / points * 1e9;
    state.counters["cpu_ns"] = stats.cpuSeconds / points * 1e9;
    for (int n : {8, 32, 64}) state.counters["amdahl_" + std::to_string(n)] = 1 / (f + (1 - f) / n);
    state.counters["thread_mib"] = static_cast<double>(stats.bytesPerAddedThread) / (1 << 20);
}

// Two single-thread, 16-stream renders of half the iterations each, side by side.
void BM_TwoAlone(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0)), mode = static_cast<int>(state.range(1));
    const int side = static_cast<int>(state.range(2));
    Scene scenes[2] = {Scene(kind, mode, side), Scene(kind, mode, side)};
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<RenderEngine> engines[2];
        for (int i = 0; i < 2; ++i) {
            scenes[i].target->ClearImage();
            engines[i] =
                std::make_unique<RenderEngine>(*scenes[i].attractor, *scenes[i].target,
                                               EngineSettings{kIterations / 2, 1, 16, 1, 0, {}});
        }
        state.ResumeTiming();
        std::thread other([&] {
            RenderControl control;
            NoDevelop sink;
            engines[1]->run(sink, control);
        });
        RenderControl control;
        NoDevelop sink;
        engines[0]->run(sink, control);
        other.join();
    }
    state.SetItemsProcessed(state.iterations() * kIterations);
    state.SetLabel(label(kind, mode, side));
    // The CSV report takes its columns from the first run it sees, which random interleaving
    // may make this one: the engine's counters, empty.
    for (const char* name :
         {"outside_fraction", "serial_fraction", "idle_fraction", "stream_ns", "band_ns", "cpu_ns",
          "amdahl_8", "amdahl_32", "amdahl_64", "thread_mib"})
        state.counters[name] = 0;
}

void engineArgs(benchmark::internal::Benchmark* b) {
    for (int kind : {0, 1})
        for (int side : {640, 2048})
            for (int mode = 0; mode < 5; ++mode)
                for (int streams : {1, 16})
                    for (int threads : {1, 2}) b->Args({kind, mode, side, streams, threads});
}

void pairArgs(benchmark::internal::Benchmark* b) {
    for (int kind : {0, 1})
        for (int side : {640, 2048})
            for (int mode = 0; mode < 5; ++mode) b->Args({kind, mode, side});
}

BENCHMARK(BM_Engine)
    ->Apply(engineArgs)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_TwoAlone)
    ->Apply(pairArgs)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
