// The correctly rounded exponential, logarithms and power against the C library's, on 4096
// arguments of the ranges the program uses: items per second are calls per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/math/cr_exp_log.h"

namespace {

using namespace qm;

constexpr std::size_t kCount = 4096;

std::vector<double> draw(double lo, double hi, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> v(kCount);
    for (double& d : v) d = u(rng);
    return v;
}

template <class F>
void unary(benchmark::State& state, F f, double lo, double hi) {
    const std::vector<double> x = draw(lo, hi, 1);
    for (auto _ : state)
        for (double v : x) benchmark::DoNotOptimize(f(v));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCount));
}

// A density ratio of (0, 1] in float raised to a float exponent (1 / gamma), rounded to float:
// the developments' call.
template <class F>
void development(benchmark::State& state, F f) {
    const std::vector<double> x = draw(0, 1, 2);
    std::vector<float> xf(x.begin(), x.end());
    const auto e = static_cast<float>(1 / 2.2);
    for (auto _ : state)
        for (float v : xf) benchmark::DoNotOptimize(f(v, e));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCount));
}

template <class F>
void binary(benchmark::State& state, F f) {
    const std::vector<double> x = draw(0, 4, 3), y = draw(-8, 8, 4);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCount; ++i) benchmark::DoNotOptimize(f(x[i], y[i]));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCount));
}

void BM_Exp(benchmark::State& s) {
    unary(
        s, [](double v) { return crm::exp(v); }, -40, 40);
}
void BM_ExpLibc(benchmark::State& s) {
    unary(
        s, [](double v) { return std::exp(v); }, -40, 40);
}
void BM_Log(benchmark::State& s) {
    unary(
        s, [](double v) { return crm::log(v); }, 1, 1e14);
}
void BM_LogLibc(benchmark::State& s) {
    unary(
        s, [](double v) { return std::log(v); }, 1, 1e14);
}
void BM_Log2(benchmark::State& s) {
    unary(
        s, [](double v) { return crm::log2(v); }, 0, 1e6);
}
void BM_Log2Libc(benchmark::State& s) {
    unary(
        s, [](double v) { return std::log2(v); }, 0, 1e6);
}
void BM_Pow(benchmark::State& s) {
    binary(s, [](double x, double y) { return crm::pow(x, y); });
}
void BM_PowLibc(benchmark::State& s) {
    binary(s, [](double x, double y) { return std::pow(x, y); });
}
void BM_PowFloat(benchmark::State& s) {
    development(s, [](float x, float e) { return crm::powFloat(x, e); });
}
void BM_PowFloatLibc(benchmark::State& s) {
    development(s, [](float x, float e) {
        return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(e)));
    });
}

BENCHMARK(BM_Exp);
BENCHMARK(BM_ExpLibc);
BENCHMARK(BM_Log);
BENCHMARK(BM_LogLibc);
BENCHMARK(BM_Log2);
BENCHMARK(BM_Log2Libc);
BENCHMARK(BM_Pow);
BENCHMARK(BM_PowLibc);
BENCHMARK(BM_PowFloat);
BENCHMARK(BM_PowFloatLibc);

}  // namespace
