// Time of one image development (BuildImage) of every mode at 640x480 and 4096x4096, after a
// render of 2,000,000 iterations of a Lorenz attractor (10, 28, 8/3, 0.005) fitted to the
// image, on one thread and on every processor (a team started once, as a render's threads
// are). The program develops at every display update, so this is time the render loses.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/render/develop_team.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"

namespace {

using namespace qm;

constexpr std::int32_t kIterations = 2'000'000;
constexpr std::int32_t kBlock = 512;

std::unique_ptr<TBitmap3D> renderedTarget(int mode, std::int32_t width, std::int32_t height) {
    Lorenz_2L a;
    a.A = 10;
    a.B = 28;
    a.C = 8.0 / 3;
    a.dT = 0.005;
    auto t = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(t.get())) {
        setBuiltinSpeedGradient(light->speedGradient);
        setBuiltinAngleGradient(light->angleGradient);
    }
    t->SetWidth(width);
    t->SetHeight(height);
    t->SetEye({0, 0, -5});
    t->SetTarget({0, 0, 0});
    sampleAttractor(a, *t, kPreviewIterations, SamplingMode::Fit);
    t->ClearImage();
    a.restart();
    std::vector<Vecd> block(kBlock);
    for (std::int32_t done = 0; done < kIterations; done += kBlock) {
        const std::int32_t n = a.iterateBlock(block.data(), kBlock);
        t->PlotBlock(block.data(), n);
    }
    return t;
}

void BM_Develop(benchmark::State& state, int mode, std::int32_t width, std::int32_t height,
                std::int32_t threads) {
    const auto t = renderedTarget(mode, width, height);
    DevelopThreads team(threads);
    LendDevelopTeam lend(*t, &team);
    for (auto _ : state) {
        t->BuildImage();
        benchmark::DoNotOptimize(t->imageBytes().data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

const bool registered = [] {
    static const char* const modes[] = {"Gas", "Liquid", "Light", "Plasma", "Solid"};
    const std::int32_t sizes[2][2] = {{640, 480}, {4096, 4096}};
    // One thread, and every processor.
    std::vector<std::int32_t> threadCounts{1};
    if (defaultThreadCount() > 1) threadCounts.push_back(defaultThreadCount());
    for (const auto& size : sizes)
        for (int mode = 0; mode < 5; ++mode)
            for (const std::int32_t threads : threadCounts)
                benchmark::RegisterBenchmark(
                    (std::string("Develop/") + modes[mode] + "/" + std::to_string(size[0]) + "x" +
                     std::to_string(size[1]) + "/threads:" + std::to_string(threads))
                        .c_str(),
                    BM_Develop, mode, size[0], size[1], threads)
                    ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
