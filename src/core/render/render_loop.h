// The render loop shared by the program's render worker and the command-line tool: a
// transient of 1000 unplotted iterations, then every iteration plotted into the render
// target, with the image developed through the sink at regular intervals.
//
// Protocol: the caller clears the target (ClearImage) and restarts the attractor, then calls
// runRender on the thread that renders; afterwards it develops the image once more when the
// outcome says so. The random generator of the rendering thread starts at state 0, as on a
// new thread, so that a render gives the same image whichever thread runs it.
//
// A render may stop and go on later, in this process or another: the attractor's point and
// counter are where the stop left them (an attractor restored from a saved state, whose
// counter is past the transient, skips it), and the generator goes on from the state the
// outcome reports (RenderSettings::randomState). Developments fall at the same counts.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"

namespace qm {

inline constexpr std::int32_t kRenderTransient = 1000;

struct RenderSettings {
    std::int32_t totalIterations = 20000000;
    std::int32_t updates = 10;  // periodic developments; values below 1 count as 1
    // The rendering thread's generator at the start: 0 for a new render, the state a stopped
    // render reported to go on with it.
    std::uint64_t randomState = 0;
};

// Shared with other threads while a render runs: the stop request in, the progress out.
struct RenderControl {
    std::atomic<bool> stopRequested{false};
    std::atomic<std::int64_t> counter{0};  // iterations so far, every stream's counted
    std::atomic<double> progress{0.0};     // counter / total, 0 to 1
};

// Develops the image while the render waits: called when (counter + 1) is a multiple of the
// interval, on the rendering thread.
class RenderSink {
public:
    virtual ~RenderSink() = default;
    virtual void develop() = 0;
    // The parallel engine calls this after every round, on one of its threads, while every
    // stream waits: the target's buffers and the engine's stream states then agree (the place
    // to take a checkpoint). The classic loop never calls it.
    virtual void betweenRounds() {}
};

struct RenderOutcome {
    std::int64_t counter = 0;
    std::int64_t interval = 0;  // total / updates; 0 when the total is below the updates
    std::int32_t developments = 0;
    bool diverged = false;
    bool stopped = false;
    // The last points have not reached the image yet: the counter is not a multiple of the
    // interval (always so without an interval).
    bool needsFinalDevelop = false;
    // The rendering thread's generator at the end, to go on with the render later.
    std::uint64_t randomState = 0;
};

RenderOutcome runRender(Attractor& attractor, TBitmap3D& target, const RenderSettings& settings,
                        RenderSink& sink, RenderControl& control);

}  // namespace qm
