// Calls per second of the core's exactly rounded sin, cos, sincos, acos and atan2 against the C
// library's, on arguments like those of the Pickover orbit (|x| < 4), of larger ones (|x| < 1000)
// and of angles in a rotation; and Pickover's step written with each (items = iterations), the
// orbit that spends most of its time in these functions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/math/cr_trig.h"

namespace {

constexpr int kArgs = 4096;

std::vector<double> arguments(double range) {
    std::vector<double> xs(kArgs);
    std::uint64_t s = 0x9e3779b97f4a7c15u;
    for (auto& x : xs) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        x = (static_cast<double>(s >> 11) * 0x1p-53 * 2 - 1) * range;
    }
    return xs;
}

template <class F>
void run(benchmark::State& state, double range, F f) {
    const std::vector<double> xs = arguments(range);
    for (auto _ : state) {
        double sum = 0;
        for (double x : xs) sum += f(x);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kArgs);
}

void BM_SinExact(benchmark::State& s, double r) {
    run(s, r, [](double x) { return qm::crm::sin(x); });
}
void BM_SinLibc(benchmark::State& s, double r) {
    run(s, r, [](double x) { return std::sin(x); });
}
void BM_CosExact(benchmark::State& s, double r) {
    run(s, r, [](double x) { return qm::crm::cos(x); });
}
void BM_CosLibc(benchmark::State& s, double r) {
    run(s, r, [](double x) { return std::cos(x); });
}
void BM_SinCosExact(benchmark::State& s, double r) {
    run(s, r, [](double x) {
        const qm::crm::SinCos sc = qm::crm::sincos(x);
        return sc.sin + sc.cos;
    });
}
void BM_AcosExact(benchmark::State& s, double) {
    run(s, 1, [](double x) { return qm::crm::acos(x); });
}
void BM_AcosLibc(benchmark::State& s, double) {
    run(s, 1, [](double x) { return std::acos(x); });
}
void BM_Atan2Exact(benchmark::State& s, double) {
    run(s, 1, [](double x) { return qm::crm::atan2(x, 0.5); });
}
void BM_Atan2Libc(benchmark::State& s, double) {
    run(s, 1, [](double x) { return std::atan2(x, 0.5); });
}

// The Pickover map of the benchmarks' parameter set, its five calls per step from one library or
// the other.
template <bool exact>
void BM_PickoverStep(benchmark::State& state) {
    const double A = -0.578, B = 1.07, C = 2.575, D = 2.427;
    double x = 0.1, y = 0.2, z = 0.3;
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i) {
            if constexpr (exact) {
                const double nx = qm::crm::sin(A * y) - z * qm::crm::cos(B * x);
                const double ny = z * qm::crm::sin(C * x) - qm::crm::cos(D * y);
                z = qm::crm::sin(x);
                x = nx;
                y = ny;
            } else {
                const double nx = std::sin(A * y) - z * std::cos(B * x);
                const double ny = z * std::sin(C * x) - std::cos(D * y);
                z = std::sin(x);
                x = nx;
                y = ny;
            }
        }
        benchmark::DoNotOptimize(x + y + z);
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_PickoverStep, true);
BENCHMARK_TEMPLATE(BM_PickoverStep, false);
BENCHMARK_CAPTURE(BM_SinExact, orbit, 4.0);
BENCHMARK_CAPTURE(BM_SinLibc, orbit, 4.0);
BENCHMARK_CAPTURE(BM_CosExact, orbit, 4.0);
BENCHMARK_CAPTURE(BM_CosLibc, orbit, 4.0);
BENCHMARK_CAPTURE(BM_SinExact, large, 1000.0);
BENCHMARK_CAPTURE(BM_SinLibc, large, 1000.0);
BENCHMARK_CAPTURE(BM_SinCosExact, orbit, 4.0);
BENCHMARK_CAPTURE(BM_AcosExact, unit, 1.0);
BENCHMARK_CAPTURE(BM_AcosLibc, unit, 1.0);
BENCHMARK_CAPTURE(BM_Atan2Exact, unit, 1.0);
BENCHMARK_CAPTURE(BM_Atan2Libc, unit, 1.0);
