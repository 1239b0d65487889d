// A render in the desktop program against the same render done directly, as the
// command-line tool does it: the example Lorenz file, 20,000,000 iterations at 640x480 with
// ten display updates, for Gaz and Lumière. The program's figure includes its display
// updates, timer and completion handler. Needs a display (xvfb-run).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QMdiSubWindow>
#include <QSurfaceFormat>

#include <chrono>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_loop.h"
#include "core/render/sampling.h"
#include "gui/main_window.h"
#include "gui/view.h"

namespace {

using namespace qm;
using namespace qm::gui;

constexpr std::int32_t kIterations = 20000000;
const char* const kFile = QM_DATA_DIR "/examples/lorenz.qmattr";

void BM_ProgramRender(benchmark::State& state) {
    TMDIform main;
    main.setProgramFolder(QM_DATA_DIR);
    main.defaults().mode = static_cast<std::uint8_t>(state.range(0));
    main.show();
    if (main.openFiles({QString::fromUtf8(kFile)}) != 1) {
        state.SkipWithError("cannot open the example file");
        return;
    }
    TForm_view* view = main.activeDocument();
    view->setTotalIterations(kIterations);
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(view, &TForm_view::renderCompleted, &loop, &QEventLoop::quit);
        const auto start = std::chrono::steady_clock::now();
        view->A_demarrer->trigger();
        loop.exec();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["iterations_per_second"] =
        benchmark::Counter(static_cast<double>(kIterations), benchmark::Counter::kIsIterationInvariantRate);
}

class Develop final : public RenderSink {
public:
    explicit Develop(TBitmap3D& target) : target_(target) {}
    void develop() override { target_.BuildImage(); }

private:
    TBitmap3D& target_;
};

void BM_DirectRender(benchmark::State& state) {
    auto parser = makeAttractorParser();
    LoadResult loaded = loadAttractor(*parser, kFile);
    auto target = CreateRenderTarget(static_cast<int>(state.range(0)));
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get()))
        loadDefaultGradients(QM_DATA_DIR, light->speedGradient, light->angleGradient);
    target->SetWidth(640);
    target->SetHeight(480);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    sampleAttractor(*loaded.attractor, *target, kPreviewIterations, SamplingMode::Fit);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        target->ClearImage();
        loaded.attractor->restart();
        RenderControl control;
        Develop sink(*target);
        const RenderOutcome outcome = runRender(*loaded.attractor, *target, {kIterations, 10}, sink, control);
        if (outcome.needsFinalDevelop) target->BuildImage();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["iterations_per_second"] =
        benchmark::Counter(static_cast<double>(kIterations), benchmark::Counter::kIsIterationInvariantRate);
}

// 0 "Gaz", 2 "Lumière".
BENCHMARK(BM_DirectRender)->Arg(0)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ProgramRender)->Arg(0)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
