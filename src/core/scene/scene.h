// The scene: everything that makes a picture besides the attractor itself. The render mode
// and its settings, the image size, the iteration and update counts, the camera, and the
// states that are drawn at random or left behind by earlier work and still decide the image
// (the generator state the preview sampling started from, the IFS chaos-game seed, the Light
// family's statistics and the colour of its first plotted point).
//
// A scene is captured from an attractor and its render target (captureScene) and turned back
// into both (prepareScene): the attractor made, the target sized, framed and sampled, ready
// for ClearImage, restart and the render loop, which then gives the same image.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "core/attractor/attractor.h"
#include "core/attractor/vec.h"
#include "core/property/gradient.h"
#include "core/render/bitmap3d.h"

namespace qm {

// The camera as the render target holds it; the view matrix follows from these exactly.
struct SceneCamera {
    Vecd eye{0, 0, -5};
    Vecd target{0, 0, 0};
    Vecd centre{0, 0, 0};
    Vecd rotationAxis{0, 0, 0};
    double rotationAngle = 0;
    double scale = 1;
    double panX = 0;
    double panY = 0;

    friend bool operator==(const SceneCamera&, const SceneCamera&) = default;
};

// The speed and turn ranges that the Light family colours by.
struct LightRanges {
    double speedMin = 0, speedMax = 0, cosMin = 0, cosMax = 0;

    friend bool operator==(const LightRanges&, const LightRanges&) = default;
};

// What a scene holds about the render. Unset values take the new-document defaults when the
// scene is prepared: a new document's size and counts, the mode's defaults, the default
// gradients, no camera (the view is then fitted, as when an attractor file is opened), the
// mirror for Julia only, and for the states whatever the preparation computes or draws.
struct RenderScene {
    static constexpr std::int32_t kDefaultWidth = 640;
    static constexpr std::int32_t kDefaultHeight = 480;
    static constexpr std::int32_t kDefaultIterations = 20000000;
    static constexpr std::int32_t kDefaultUpdates = 10;

    int mode = 0;
    std::int32_t width = kDefaultWidth;
    std::int32_t height = kDefaultHeight;
    std::int64_t iterations = kDefaultIterations;
    std::int32_t updates = kDefaultUpdates;
    // The parallel render: its streams (1 is the classic single orbit) and their seed. The
    // thread count is the machine's and does not change the image.
    std::optional<std::int32_t> streams;
    std::optional<std::uint64_t> renderSeed;
    std::optional<std::uint64_t> previewRandom;  // random31 state before the preview sampling
    std::optional<std::int32_t> chaosSeed;       // IFS only
    std::optional<bool> mirror;
    std::optional<SceneCamera> camera;
    std::optional<double> luminosity, gamma, opacity, roughness;
    std::optional<LightRanges> lightRanges;
    std::optional<ColorRGBf> plotColor;
    std::optional<Gradientf> speedGradient, angleGradient;
    // The peak the image is developed against (TBitmap3D::fixedPeak), shared by the frames of
    // an animation; none: the image's own peak.
    std::optional<double> exposure;

    friend bool operator==(const RenderScene&, const RenderScene&) = default;
};

// Everything the target and the document hold now. previewRandom is the generator state the
// last preview sampling started from.
RenderScene captureScene(const Attractor& attractor, const TBitmap3D& target,
                         std::int64_t iterations, std::int32_t updates, std::uint64_t previewRandom,
                         std::int32_t streams, std::uint64_t renderSeed);

struct PreparedScene {
    std::unique_ptr<TBitmap3D> target;
    std::uint64_t previewRandom = 0;  // the state the sampling started from
    bool bounded = false;             // false: the attractor diverged while it was sampled
};

// Makes the scene's render target for the attractor (whose IFS seed it sets), samples the
// preview as the scene's document had (on the calling thread's generator, set to the scene's
// state first), and restores the camera, the statistics and the first point's colour. The
// default gradients stand in for gradients the scene lacks. The size must have been checked.
// Sets the target's camera to the one a scene keeps, and its view from it.
void applyCamera(TBitmap3D& t, const SceneCamera& c);

PreparedScene prepareScene(Attractor& attractor, const RenderScene& scene,
                           const Gradientf& defaultSpeed, const Gradientf& defaultAngle);

}  // namespace qm
