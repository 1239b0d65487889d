// A render in the desktop program against the same render run directly, as the command-line
// tool runs it: the example Lorenz file, 20,000,000 iterations at 640x480 with ten display
// updates, on the render palette's threads and streams (the program's settings; by default
// every processor and 16 streams). The two run in turn, direct then program, so that a drift of the
// machine's speed touches both alike; the figures are the medians of each and of the ratio taken
// pair by pair. The program's time runs from "&Démarrer" to the end of its completion handler,
// display updates and timer included. Needs a display (xvfb-run).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <vector>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/view.h"

namespace {

using namespace qm;
using namespace qm::gui;

constexpr std::int32_t kIterations = 20000000;
const char* const kFile = QM_DATA_DIR "/examples/lorenz.qmattr";

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

class Develop final : public RenderSink {
public:
    explicit Develop(TBitmap3D& target) : target_(target) {}
    void develop() override { target_.BuildImage(); }

private:
    TBitmap3D& target_;
};

// The command-line tool's render: set up as it does, then timed from the cleared image to
// the last development.
class DirectRender {
public:
    DirectRender(int mode, std::int32_t streams, std::int32_t threads)
        : parser_(makeAttractorParser()), streams_(streams), threads_(threads) {
        attractor_ = loadAttractor(*parser_, kFile).attractor;
        target_ = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target_.get()))
            loadDefaultGradients(QM_DATA_DIR, light->speedGradient, light->angleGradient);
        target_->SetWidth(640);
        target_->SetHeight(480);
        target_->SetEye({0, 0, -5});
        target_->SetTarget({0, 0, 0});
        sampleAttractor(*attractor_, *target_, kPreviewIterations, SamplingMode::Fit);
    }
    double run() {
        const auto start = Clock::now();
        target_->ClearImage();
        attractor_->restart();
        RenderControl control;
        Develop sink(*target_);
        RenderEngine engine(*attractor_, *target_, {kIterations, 10, streams_, threads_, 0, {}});
        const RenderOutcome outcome = engine.run(sink, control);
        if (outcome.needsFinalDevelop) target_->BuildImage();
        return seconds(start);
    }

private:
    std::unique_ptr<Parser> parser_;
    std::unique_ptr<Attractor> attractor_;
    std::unique_ptr<TBitmap3D> target_;
    std::int32_t streams_, threads_;
};

void BM_ProgramAgainstDirect(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    TMDIform main;
    main.setProgramFolder(QM_DATA_DIR);
    main.defaults().mode = static_cast<std::uint8_t>(mode);
    main.show();
    if (main.openFiles({QString::fromUtf8(kFile)}) != 1) {
        state.SkipWithError("cannot open the example file");
        return;
    }
    TForm_view* view = main.activeDocument();
    view->setTotalIterations(kIterations);
    DirectRender direct(mode, main.palettes().renderStreams(), main.palettes().renderThreads());
    state.counters["streams"] = main.palettes().renderStreams();
    state.counters["threads"] = main.palettes().renderThreads();

    std::vector<double> directTimes, programTimes, ratios;
    for (auto _ : state) {
        const double d = direct.run();
        QEventLoop loop;
        QObject::connect(view, &TForm_view::renderCompleted, &loop, &QEventLoop::quit);
        const auto start = Clock::now();
        view->A_demarrer->trigger();
        loop.exec();
        const double p = seconds(start);
        state.SetIterationTime(p);
        directTimes.push_back(d);
        programTimes.push_back(p);
        ratios.push_back(d / p);
    }
    state.counters["direct_ips"] = kIterations / median(directTimes);
    state.counters["program_ips"] = kIterations / median(programTimes);
    state.counters["program_speed_share"] = median(ratios);
}

// 0 "Gaz", 2 "Lumière".
BENCHMARK(BM_ProgramAgainstDirect)
    ->Arg(0)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(9);

}  // namespace

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
