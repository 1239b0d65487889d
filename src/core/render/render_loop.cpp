#include "core/render/render_loop.h"

#include <algorithm>

namespace qm {

namespace {
constexpr std::int32_t kBlock = 512;  // points stepped, then splatted, per pass
}

RenderOutcome runRender(Attractor& attractor, TBitmap3D& target, const RenderSettings& settings,
                        RenderSink& sink, RenderControl& control) {
    threadRandom31().state = settings.randomState;
    const std::int64_t total = std::max(settings.totalIterations, 0);
    const std::int64_t interval = total / std::max(settings.updates, 1);
    RenderOutcome outcome;
    outcome.interval = interval;
    control.progress.store(0.0, std::memory_order_relaxed);
    // The scratch block lives on this stack, next to the splat's own chunk arrays: their
    // distance is then the same on every thread and in every run, and so is the speed (a heap
    // block lands at a different distance each time, and at some distances its loads stall
    // behind the chunk's stores, whose addresses share their low bits).
    alignas(64) Vecd block[kBlock];

    // Transient: iterated, not plotted.
    while (!control.stopRequested.load(std::memory_order_relaxed) && !attractor.diverged() &&
           attractor.iterationCount() < kRenderTransient) {
        const auto want =
            std::min<std::int32_t>(kBlock, kRenderTransient - attractor.iterationCount());
        attractor.iterateBlock(block, want);
        control.counter.store(attractor.iterationCount(), std::memory_order_relaxed);
    }

    // Main loop. Blocks end where a development falls due, so that developments happen after
    // exactly the same points as with one iteration at a time.
    while (!control.stopRequested.load(std::memory_order_relaxed) && !attractor.diverged() &&
           attractor.iterationCount() < total) {
        const std::int64_t counter = attractor.iterationCount();
        std::int64_t want = std::min<std::int64_t>(kBlock, total - counter);
        if (interval > 0) {
            std::int64_t untilDevelop = (interval - (counter + 1) % interval) % interval;
            if (untilDevelop == 0) untilDevelop = interval;
            want = std::min(want, untilDevelop);
        }
        const std::int32_t got = attractor.iterateBlock(block, static_cast<std::int32_t>(want));
        target.PlotBlock(block, got);
        const std::int64_t now = attractor.iterationCount();
        control.counter.store(now, std::memory_order_relaxed);
        control.progress.store(static_cast<double>(now) / static_cast<double>(total),
                               std::memory_order_relaxed);
        if (interval > 0 && (now + 1) % interval == 0) {
            sink.develop();
            ++outcome.developments;
        }
    }

    outcome.counter = attractor.iterationCount();
    outcome.diverged = attractor.diverged();
    outcome.stopped = control.stopRequested.load(std::memory_order_relaxed);
    outcome.needsFinalDevelop = interval == 0 || outcome.counter % interval != 0;
    outcome.randomState = threadRandom31().state;
    return outcome;
}

}  // namespace qm
