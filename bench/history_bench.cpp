// The cost of the undo history's two operations on a Lumière document of 640x480 with its
// default gradients (the largest scene text of the five modes): a snapshot, which the
// program takes after every change (each move of a dragged track bar included), and a
// restore, which an undo performs (read the scene, make the target, sample the preview).
// The counter "scene_bytes" is the size of one snapshot, which a step of the history keeps.
#include <benchmark/benchmark.h>

#include <memory>

#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/scene/scene_file.h"

namespace {

using namespace qm;

struct Document {
    Lorenz_2L lorenz;
    std::unique_ptr<TBitmap3D> target = CreateRenderTarget(2);
    Gradientf speed, angle;

    Document() {
        lorenz.A = 10;
        lorenz.B = 28;
        lorenz.C = 8.0 / 3;
        lorenz.dT = 0.005;
        setBuiltinSpeedGradient(speed);
        setBuiltinAngleGradient(angle);
        auto* light = static_cast<TBitmap3D_Light*>(target.get());
        light->speedGradient = speed;
        light->angleGradient = angle;
        target->SetWidth(640);
        target->SetHeight(480);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        sampleAttractor(lorenz, *target, kPreviewIterations, SamplingMode::Fit);
    }
    RenderScene scene() const { return captureScene(lorenz, *target, 20000000, 10, 0, 16, 0); }
};

void BM_SceneSnapshot(benchmark::State& state) {
    const Document doc;
    for (auto _ : state) {
        std::string text = sceneText(doc.lorenz, doc.scene());
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
    // What one step of the history holds.
    state.counters["scene_bytes"] = static_cast<double>(sceneText(doc.lorenz, doc.scene()).size());
}
BENCHMARK(BM_SceneSnapshot)->Unit(benchmark::kMicrosecond);

void BM_SceneRestore(benchmark::State& state) {
    const Document doc;
    const std::string text = sceneText(doc.lorenz, doc.scene());
    for (auto _ : state) {
        SceneLoad loaded = readScene(text);
        PreparedScene prepared =
            prepareScene(*loaded.attractor, loaded.render, doc.speed, doc.angle);
        benchmark::DoNotOptimize(prepared.target.get());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SceneRestore)->Unit(benchmark::kMillisecond);

}  // namespace
