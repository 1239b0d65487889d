#include "core/animate/frame_render.h"

#include "core/render/render_engine.h"

namespace qm {

namespace {

struct NoDevelopment final : RenderSink {
    void develop() override {}
};

}  // namespace

FrameRender renderFrame(const SceneFrame& frame, const Gradientf& defaultSpeed,
                        const Gradientf& defaultAngle, const FrameRenderOptions& options,
                        RenderControl& control) {
    FrameRender result;
    if (!frame.attractor) return result;
    result.attractor = frame.attractor->clone();
    if (!result.attractor) return result;
    Attractor& attractor = *result.attractor;
    const RenderScene& r = frame.render;
    PreparedScene prepared = prepareScene(attractor, r, defaultSpeed, defaultAngle);
    if (!prepared.target) return result;
    result.target = std::move(prepared.target);
    TBitmap3D& target = *result.target;
    const std::int32_t streams = r.streams.value_or(kDefaultStreams);
    const std::uint64_t renderSeed = r.renderSeed.value_or(0);
    // As quillmere-cli render captures a scene before its render: the image carries this.
    result.scene = captureScene(attractor, target, r.iterations, r.updates, prepared.previewRandom,
                                streams, renderSeed);

    // A frame whose orbit leaves is black, whatever the mode's background.
    const auto black = [&] {
        target.SetBackgroundColor({0, 0, 0});
        target.ClearImage();
        result.diverged = true;
        result.peak = 0;
    };
    if (!prepared.bounded) {
        black();
        return result;
    }

    target.ClearImage();
    attractor.restart();
    EngineSettings settings;
    settings.totalIterations = r.iterations;
    settings.updates = r.updates;
    settings.streams = streams;
    settings.threads = options.threads;
    settings.renderSeed = renderSeed;
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
