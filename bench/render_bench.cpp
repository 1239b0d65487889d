// Iterations per second of the render hot path (block iteration and block splat) for every
// mode at 640x480, on a Lorenz attractor (10, 28, 8/3, 0.005) and on an IFS of four
// contracting maps, next to a bare baseline: the same Lorenz step, divergence test,
// projection and bilinear splat written out by hand into a float buffer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/attractor/ifs.h"
#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/simd_lanes.h"

namespace {

using namespace qm;

constexpr std::int32_t kBlock = 512;  // as the render loop

std::unique_ptr<Attractor> makeLorenz() {
    auto a = std::make_unique<Lorenz_2L>();
    a->A = 10;
    a->B = 28;
    a->C = 8.0 / 3;
    a->dT = 0.005;
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
    return ifs;
}

std::unique_ptr<TBitmap3D> makeTarget(int mode, Attractor& a) {
    auto t = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(t.get())) {
        setBuiltinSpeedGradient(light->speedGradient);
        setBuiltinAngleGradient(light->angleGradient);
    }
    t->SetWidth(640);
    t->SetHeight(480);
    t->SetEye({0, 0, -5});
    t->SetTarget({0, 0, 0});
    sampleAttractor(a, *t, kPreviewIterations, SamplingMode::Fit);
    t->ClearImage();
    a.restart();
    return t;
}

// The render loop's path: a block of points, then a block of splats.
void BM_Render(benchmark::State& state, int mode, bool ifs) {
    auto a = ifs ? makeIfs() : makeLorenz();
    auto t = makeTarget(mode, *a);
    std::vector<Vecd> block(kBlock);
    for (auto _ : state) {
        const std::int32_t n = a->iterateBlock(block.data(), kBlock);
        t->PlotBlock(block.data(), n);
        if (a->iterationCount() > 1'500'000'000) a->restart();
    }
    benchmark::DoNotOptimize(t->imageBytes().data());
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// The same on SSE2 alone, as on a processor without AVX2 (the lit modes' wider paths off).
void BM_RenderSse2(benchmark::State& state, int mode, bool ifs) {
    detail::setAvx2Lanes(false);
    BM_Render(state, mode, ifs);
    detail::setAvx2Lanes(true);
}

// Developing a rendered 640x480 image: BuildImage into bytes, or BuildImage16 into the 16-bit
// pixels of a PNG. Items are pixels.
void BM_Develop(benchmark::State& state, int mode, bool deep) {
    auto a = makeLorenz();
    auto t = makeTarget(mode, *a);
    std::vector<Vecd> block(kBlock);
    for (int i = 0; i < 2000; ++i)
        t->PlotBlock(block.data(), a->iterateBlock(block.data(), kBlock));
    std::vector<std::uint16_t> wide(static_cast<std::size_t>(t->pixelCount) * 4);
    for (auto _ : state) {
        if (deep)
            t->BuildImage16(wide.data(), 4 * t->imageWidth);
        else
            t->BuildImage();
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(wide.data());
    state.SetItemsProcessed(state.iterations() * t->pixelCount);
}

// The same work as Gas on Lorenz, with every abstraction removed.
void BM_BareLorenzGas(benchmark::State& state) {
    auto a = makeLorenz();
    auto t = makeTarget(0, *a);
    const auto& m = t->combinedMatrix.m;
    const int w = t->imageWidth, h = t->imageHeight;
    std::vector<float> density(static_cast<std::size_t>(w * h));
    const double pa = 10 * 0.005, pb = 28 * 0.005, pc = 8.0 / 3 * 0.005, dT = 0.005;
    double x = 1, y = 1, z = 1;
    bool diverged = false;
    for (auto _ : state) {
        for (int k = 0; k < kBlock; ++k) {
            const double nx = x + pa * (y - x);
            const double ny = y + pb * x - dT * y - dT * x * z;
            const double nz = z - pc * z + dT * x * y;
            x = nx, y = ny, z = nz;
            diverged |= std::fabs(x) > 1e5 || std::fabs(y) > 1e5 || std::fabs(z) > 1e5;
            const double X = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * w * 0.5;
            const double Y = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * h * 0.5;
            Splat s;
            if (!TBitmap3D::splatCell(X, Y, w, h, s)) continue;
            float* d = density.data() + s.index;
            d[0] += s.w00;
            d[1] += s.w10;
            d[w] += s.w01;
            d[w + 1] += s.w11;
        }
    }
    benchmark::DoNotOptimize(density.data());
    benchmark::DoNotOptimize(diverged);
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// Gas's block splat in the render loop's place (a block of Lorenz points, then its splats):
// the classic float sums against the fixed-point sums of a multi-stream render (one thread's
// words). Run both in one process with --benchmark_enable_random_interleaving to compare them
// on a busy machine.
void BM_GasSplat(benchmark::State& state, bool fixed) {
    auto a = makeLorenz();
    auto t = makeTarget(0, *a);
    auto& gas = static_cast<TBitmap3D_Gas&>(*t);
    std::vector<Vecd> block(kBlock);
    GasFixedSums sums;
    sums.assign(gas.density.size());
    for (auto _ : state) {
        a->iterateBlock(block.data(), kBlock);
        if (fixed)
            gas.PlotBlockFixed(block.data(), kBlock, sums);
        else
            gas.PlotBlock(block.data(), kBlock);
    }
    benchmark::DoNotOptimize(gas.density.data());
    benchmark::DoNotOptimize(sums.low.data());
    state.SetItemsProcessed(state.iterations() * kBlock);
}

const bool registered = [] {
    static const char* const modes[] = {"Gas", "Liquid", "Light", "Plasma", "Solid"};
    for (int ifs = 0; ifs < 2; ++ifs)
        for (int mode = 0; mode < 5; ++mode)
            benchmark::RegisterBenchmark(
                (std::string("Render/") + (ifs ? "IFS4/" : "Lorenz/") + modes[mode]).c_str(),
                BM_Render, mode, ifs != 0);
    for (int mode = 2; mode <= 3; ++mode)
        benchmark::RegisterBenchmark(
            (std::string("Render/Lorenz/") + modes[mode] + "/SSE2").c_str(), BM_RenderSse2, mode,
            false);
    benchmark::RegisterBenchmark("Render/Lorenz/BareBaseline", BM_BareLorenzGas);
    benchmark::RegisterBenchmark("Splat/Lorenz/Gas", BM_GasSplat, false);
    benchmark::RegisterBenchmark("Splat/Lorenz/GasFixed", BM_GasSplat, true);
    for (int mode = 0; mode < 5; ++mode)
        for (int deep = 0; deep < 2; ++deep)
            benchmark::RegisterBenchmark(
                (std::string("Develop/") + modes[mode] + (deep ? "/16bit" : "/8bit")).c_str(),
                BM_Develop, mode, deep != 0);
    return true;
}();

}  // namespace
