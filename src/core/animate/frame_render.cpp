#include "core/animate/frame_render.h"

#include "core/render/render_engine.h"

namespace qm {

namespace {

struct NoDevelopment final : RenderSink {
    void develop() override {}
};

// The frame prepared as its render starts: attractor, target and the scene they make.
FrameRender prepareFrame(const SceneFrame& frame, const Gradientf& defaultSpeed,
                         const Gradientf& defaultAngle, bool& bounded) {
    FrameRender result;
    bounded = false;
    if (!frame.attractor) return result;
    result.attractor = frame.attractor->clone();
    if (!result.attractor) return result;
    const RenderScene& r = frame.render;
    PreparedScene prepared = prepareScene(*result.attractor, r, defaultSpeed, defaultAngle);
    if (!prepared.target) return result;
    result.target = std::move(prepared.target);
    bounded = prepared.bounded;
    // As quillmere-cli render captures a scene before its render: the image carries this.
    result.scene = captureScene(*result.attractor, *result.target, r.iterations, r.updates,
                                prepared.previewRandom, r.streams.value_or(kDefaultStreams),
                                r.renderSeed.value_or(0));
    return result;
}

}  // namespace

std::optional<RenderScene> carriedScene(const SceneFrame& frame, const Gradientf& defaultSpeed,
                                        const Gradientf& defaultAngle) {
    bool bounded = false;
    FrameRender prepared = prepareFrame(frame, defaultSpeed, defaultAngle, bounded);
    if (!prepared.target) return std::nullopt;
    return prepared.scene;
}

FrameRender renderFrame(const SceneFrame& frame, const Gradientf& defaultSpeed,
                        const Gradientf& defaultAngle, const FrameRenderOptions& options,
                        RenderControl& control) {
    bool bounded = false;
    FrameRender result = prepareFrame(frame, defaultSpeed, defaultAngle, bounded);
    if (!result.target) return result;
    Attractor& attractor = *result.attractor;
    TBitmap3D& target = *result.target;
    const RenderScene& r = result.scene;

    // A frame whose orbit leaves is black, whatever the mode's background.
    const auto black = [&] {
        target.SetBackgroundColor({0, 0, 0});
        target.ClearImage();
        result.diverged = true;
        result.peak = 0;
    };
    if (!bounded) {
        black();
        return result;
    }

    target.ClearImage();
    attractor.restart();
    EngineSettings settings;
    settings.totalIterations = r.iterations;
    settings.updates = r.updates;
    settings.streams = r.streams.value_or(kDefaultStreams);
    settings.threads = options.threads;
    settings.renderSeed = r.renderSeed.value_or(0);
    settings.onThreadStart = options.onThreadStart;
    RenderEngine engine(attractor, target, settings);
    NoDevelopment none;
    const RenderOutcome outcome = engine.run(options.sink ? *options.sink : none, control);
    result.iterations = outcome.counter;
    result.stopped = outcome.stopped;
    // Developing is a function of the buffers alone: once more at the end gives the image
    // the last development gave, or the one it would have given.
    target.BuildImage();
    result.peak = target.foundPeak;
    if (outcome.diverged) black();
    return result;
}

}  // namespace qm
