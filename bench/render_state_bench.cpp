// Saving and reading back a render's state (.qmrender) in every mode at 640x480 and
// 2048x2048: capture of the target's buffers plus the compressed, checksummed write through
// the atomic writer (fsync included), and the checked read plus restore into a new target.
// Each target first renders 4,000,000 iterations of Lorenz with 16 streams, so that the buffers
// hold a real image. The counter "file_bytes" is the state file's size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "core/attractor/kinds.h"
#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"
#include "core/render/state/render_state_file.h"

namespace {

using namespace qm;
namespace fs = std::filesystem;

struct NoSink final : RenderSink {
    void develop() override {}
};

struct Prepared {
    std::unique_ptr<TBitmap3D> target;
    RenderState state;
};

// One rendered target and its state per mode and size, made once.
Prepared& prepared(int mode, std::int32_t size) {
    static std::map<std::pair<int, std::int32_t>, Prepared> cache;
    Prepared& p = cache[{mode, size}];
    if (p.target) return p;
    auto lorenz = std::make_unique<Lorenz_2L>();
    lorenz->A = 10;
    lorenz->B = 28;
    lorenz->C = 8.0 / 3;
    lorenz->dT = 0.005;
    lorenz->restart();
    p.target = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(p.target.get())) {
        setBuiltinSpeedGradient(light->speedGradient);
        setBuiltinAngleGradient(light->angleGradient);
    }
    p.target->SetWidth(size == 640 ? 640 : size);
    p.target->SetHeight(size == 640 ? 480 : size);
    p.target->SetEye({0, 0, -5});
    p.target->SetTarget({0, 0, 0});
    sampleAttractor(*lorenz, *p.target, kPreviewIterations, SamplingMode::Fit);
    p.target->ClearImage();
    lorenz->restart();
    EngineSettings settings;
    settings.totalIterations = 4000000;
    settings.streams = 16;
    settings.threads = 1;
    RenderEngine engine(*lorenz, *p.target, settings);
    RenderControl control;
    NoSink sink;
    engine.run(sink, control);
    std::ostringstream scene;
    writeAttractor(*makeAttractorParser(), *lorenz, scene);
    p.state.scene = scene.str();
    p.target->captureState(p.state);
    p.state.streams = engine.streamStates();
    return p;
}

fs::path stateFile() {
    return fs::temp_directory_path() / ("qm-state-bench-" + std::to_string(getpid()) + ".qmrender");
}

void BM_CaptureAndWrite(benchmark::State& st) {
    const int mode = static_cast<int>(st.range(0));
    Prepared& p = prepared(mode, static_cast<std::int32_t>(st.range(1)));
    const fs::path file = stateFile();
    for (auto _ : st) {
        RenderState s;
        s.scene = p.state.scene;
        p.target->captureState(s);
        s.streams = p.state.streams;
        if (!writeRenderState(file, s)) st.SkipWithError("write failed");
    }
    st.counters["file_bytes"] = static_cast<double>(fs::file_size(file));
    fs::remove(file);
}

void BM_ReadAndRestore(benchmark::State& st) {
    const int mode = static_cast<int>(st.range(0));
    Prepared& p = prepared(mode, static_cast<std::int32_t>(st.range(1)));
    const fs::path file = stateFile();
    writeRenderState(file, p.state);
    auto target = CreateRenderTarget(mode);
    target->SetWidth(p.target->imageWidth);
    target->SetHeight(p.target->imageHeight);
    for (auto _ : st) {
        RenderState s;
        if (!readRenderState(file, s) || !target->restoreState(s)) st.SkipWithError("read failed");
    }
    st.counters["file_bytes"] = static_cast<double>(fs::file_size(file));
    fs::remove(file);
}

void modesAndSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "size"});
    for (std::int64_t size : {640, 2048})
        for (std::int64_t mode = 0; mode < kRenderModeCount; ++mode) b->Args({mode, size});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_CaptureAndWrite)->Apply(modesAndSizes);
BENCHMARK(BM_ReadAndRestore)->Apply(modesAndSizes);

}  // namespace
