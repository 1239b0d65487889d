// The interface thread's event latency while the discovery window searches on every core:
// a 10 ms timer records how late each of its events arrives (the gap between two timeouts
// less 10 ms), first with the program idle, then while the window searches every kind,
// draws its thumbnails, draws them all again in another mode halfway and the grid scrolls.
// Prints the percentiles of each phase; run under xvfb-run.
//   discovery_latency_bench [SECONDS]     (the search phase; 20 by default)
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "core/discover/lane_search.h"
#include "core/render/bitmap3d.h"
#include "gui/discovery_window.h"
#include "gui/main_window.h"
#include "gui/preview_widget.h"

namespace {

using namespace qm;
using namespace qm::gui;

constexpr int kIntervalMs = 10;

struct Phase {
    const char* name;
    std::vector<double> lateness;  // ms
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

void report(const Phase& phase) {
    const auto& v = phase.lateness;
    std::printf("%-8s events %6zu  p50 %6.2f ms  p90 %6.2f ms  p99 %6.2f ms  max %7.2f ms\n",
                phase.name, v.size(), percentile(v, 0.5), percentile(v, 0.9), percentile(v, 0.99),
                v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
}

// Runs the event loop for ms milliseconds, recording the timer's lateness into phase.
void measure(QApplication& app, Phase& phase, int ms, const std::function<void(qint64)>& tick) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        phase.lateness.push_back(std::max(0.0, (now - last) / 1e6 - kIntervalMs));
        last = now;
        if (tick) tick(now / 1000000);
        if (now / 1000000 >= ms) app.quit();
    });
    timer.start(kIntervalMs);
    app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    TMDIform main;
    main.setProgramFolder(QM_DATA_DIR);
    main.resize(1000, 700);
    main.show();
    TForm_discover* window = main.discoveryWindow();
    window->show();

    Phase idle{"idle", {}};
    measure(app, idle, 3000, nullptr);

    window->setKind(kAllKinds, 0);
    window->start();
    Phase busy{"search", {}};
    bool switched = false;
    measure(app, busy, seconds * 1000, [&](qint64 ms) {
        // The grid scrolls as a user scrolls it; halfway every thumbnail is drawn again.
        QScrollBar* bar = window->grid()->verticalScrollBar();
        bar->setValue(bar->value() >= bar->maximum() ? 0 : bar->value() + 8);
        if (!switched && ms >= seconds * 500) {
            switched = true;
            window->setThumbnailMode(static_cast<int>(RenderMode::Solid));
        }
    });
    const int finds = window->grid()->count();
    window->stop();

    report(idle);
    report(busy);
    std::printf("finds    %d in %d s on %u threads\n", finds, seconds,
                std::max(1u, std::thread::hardware_concurrency()));
    return 0;
}
