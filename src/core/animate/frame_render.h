// One frame of an animation rendered whole, as the tool's render command renders a scene: the
// scene prepared (prepareScene), the render engine run to the end on every core, the image
// developed once at the end (with the scene's exposure when it has one). Toolkit-free; the
// program's worker and the tool's animate command both call it, on the thread that renders.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/animate/animation.h"
#include "core/render/render_loop.h"

namespace qm {

struct FrameRenderOptions {
    std::int32_t threads = 0;  // 0: every processor this process may use
    // Called first on each thread the engine starts (e.g. to lower its priority).
    std::function<void()> onThreadStart;
    // Developments along the render (a preview), called as the engine's sink; the image is
    // developed at the end whatever this does. None: no development before the end.
    RenderSink* sink = nullptr;
};

struct FrameRender {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;  // the developed image; none only for an unknown mode
    // The scene the image carries: the frame's scene as prepared, exposure included.
    // Rendering it again (quillmere-cli render of the PNG) gives the same image.
    RenderScene scene;
    std::int64_t iterations = 0;  // done, every stream counted
    float peak = 0;               // the buffers' own peak, whatever the exposure
    // The orbit diverged while it was sampled or rendered: the image is black.
    bool diverged = false;
    // control.stopRequested ended the render early: the image is what was rendered so far.
    bool stopped = false;
};

// The scene renderFrame's image of the frame carries, found by preparing the frame alone
// (a preview sampling, no render): to tell whether an image already written is this frame's.
// None when the frame has no attractor or an unknown mode.
std::optional<RenderScene> carriedScene(const SceneFrame& frame, const Gradientf& defaultSpeed,
                                        const Gradientf& defaultAngle);

// Renders the frame. Gradients the scene lacks are the defaults given.
FrameRender renderFrame(const SceneFrame& frame, const Gradientf& defaultSpeed,
                        const Gradientf& defaultAngle, const FrameRenderOptions& options,
                        RenderControl& control);

}  // namespace qm
