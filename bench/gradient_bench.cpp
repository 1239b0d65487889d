// Samples per second of Gradientf::ColorAt as the Light modes call it: positions that wander
// smoothly over [0, 1] like a speed along an orbit, on the built-in speed ramp (components 0
// and 1 only), on a 256-stop colour map of arbitrary bytes, and on the angle ramp.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/property/color_map.h"
#include "core/property/gradient.h"

namespace {

using namespace qm;

constexpr int kPositions = 4096;

std::vector<double> orbitPositions() {
    std::vector<double> ts(kPositions);
    for (int i = 0; i < kPositions; ++i)
        ts[static_cast<std::size_t>(i)] = 0.5 + 0.45 * std::sin(i * 0.013) * std::cos(i * 0.0021);
    return ts;
}

void BM_ColorAt(benchmark::State& state, int which) {
    Gradientf g;
    if (which == 0) {
        setBuiltinSpeedGradient(g);
    } else if (which == 1) {
        std::uint32_t x = 12345;
        for (int k = 0; k < 256; ++k) {
            auto byte = [&x] {
                x = x * 1664525u + 1013904223u;
                return static_cast<float>(x >> 24) / 255.0f;
            };
            g.AddStop(k / 255.0, {byte(), byte(), byte()});
        }
    } else {
        setBuiltinAngleGradient(g);
    }
    const std::vector<double> ts = orbitPositions();
    std::vector<ColorRGBf> out(ts.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < ts.size(); ++i) out[i] = g.ColorAt(ts[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPositions);
}

// A point's colour as the Light modes form it: the speed and angle ramps at two positions,
// summed; by two ColorAt calls, or by the paired lookup (items are points).
void BM_PointColour(benchmark::State& state, bool paired) {
    Gradientf speed, angle;
    setBuiltinSpeedGradient(speed);
    setBuiltinAngleGradient(angle);
    const std::vector<double> ts = orbitPositions();
    std::vector<ColorRGBf> out(ts.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < ts.size(); ++i) {
            const double t1 = ts[i], t2 = ts[ts.size() - 1 - i];
            if (paired) {
                out[i] = sumOfColorsAt(speed, t1, angle, t2);
            } else {
                const ColorRGBf s = speed.ColorAt(t1), a = angle.ColorAt(t2);
                out[i] = {s.r + a.r, s.g + a.g, s.b + a.b};
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPositions);
}

BENCHMARK_CAPTURE(BM_PointColour, TwoColorAt, false);
BENCHMARK_CAPTURE(BM_PointColour, Paired, true);
BENCHMARK_CAPTURE(BM_ColorAt, BuiltinSpeed, 0);
BENCHMARK_CAPTURE(BM_ColorAt, Map256, 1);
BENCHMARK_CAPTURE(BM_ColorAt, BuiltinAngle, 2);

}  // namespace
