// Animation: the scene of every frame of a turntable or of a journey between scenes. A frame
// is a whole scene (an attractor and its RenderScene), so any frame renders alone, on any
// machine, to the same bytes; the program's animation dialog and the tool's animate command
// both take their frames from here and render them with renderFrame (frame_render.h).
//
//   SceneFrame base = ...;                      // e.g. loaded from a .qmscene and resolved
//   resolveScene(base, speed, angle);           // every optional setting made explicit
//   Animation a = Animation::turntable(std::move(base), 120, 360, TurnAxis::View);
//   for (std::int32_t i = 0; i < a.frameCount(); ++i) {
//       SceneFrame f = a.frame(i);
//       f.render.exposure = plan.at(i);         // fixed exposure, see exposure.h
//       FrameRender r = renderFrame(f, speed, angle, options, control);
//       ...                                     // r.target holds the image, r.scene its scene
//   }
//
// Turntable: frame i turns the base scene's camera by degrees * i / N about the axis, so the
// N frames spread the turn evenly and the last stops one step short of the first; frame(N)
// (the step after the last) is frame(0) again, exactly, for any whole number of turns.
//
// Journey: N frames from the first keyframe (frame 0) to the last (frame N - 1), each
// segment between two consecutive keyframes taking an equal share of the time. Within a
// segment, at s from 0 to 1 (eased when asked):
//   - parameters linearly ((1 - s) a + s b; integer parameters rounded to the nearest);
//   - the camera's rotation by spherical interpolation of quaternions (the shorter way), the
//     scale geometrically, the pan, eye, target and centre linearly;
//   - the mode's settings (luminosity, gamma, opacity, roughness), the Light family's speed
//     and turn ranges and its first colour linearly, the iterations geometrically;
//   - the gradients stop by stop when both have as many stops, else both sampled at the
//     union of their stop positions and mixed there;
//   - what cannot be mixed (streams, render seed, updates, random states, mirror) is the
//     nearer keyframe's.
// At s = 0 and s = 1 the frame is the keyframe itself, bit for bit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/property/gradient.h"
#include "core/scene/scene.h"

namespace qm {

// A whole scene: what a .qmscene file or a frame's image holds. Copying clones the attractor.
struct SceneFrame {
    std::unique_ptr<Attractor> attractor;
    RenderScene render;

    SceneFrame() = default;
    SceneFrame(std::unique_ptr<Attractor> a, RenderScene r)
        : attractor(std::move(a)), render(std::move(r)) {}
    SceneFrame(const SceneFrame& other);
    SceneFrame& operator=(const SceneFrame& other);
    SceneFrame(SceneFrame&&) noexcept = default;
    SceneFrame& operator=(SceneFrame&&) noexcept = default;
};

// Makes every setting the scene leaves to its preparation explicit: the framing (fitted when
// the scene has no camera), the mode's settings, the gradients, the Light family's ranges and
// first colour, the random states, the mirror. The frame then renders to the same image as
// before, and can be turned or mixed with other resolved scenes. Draws on the calling
// thread's random31 (as prepareScene does). False, with the frame unchanged, when the orbit
// diverges while it is sampled (or the mode is unknown).
bool resolveScene(SceneFrame& frame, const Gradientf& defaultSpeed, const Gradientf& defaultAngle);

// The axis of a turntable: the attractor's own x, y or z axis (the object turns about it,
// wherever the camera looks from), or the image's vertical axis (the attractor turns as seen,
// whatever its orientation). A positive angle turns counter-clockwise seen from the axis's
// positive end; about the image's vertical axis, the near side moves to the right.
enum class TurnAxis : std::uint8_t { X = 0, Y = 1, Z = 2, View = 3 };

// The timing of each journey segment: even, or slow at both keyframes (smoothstep,
// 3 s^2 - 2 s^3).
enum class Ease : std::uint8_t { Linear = 0, Smooth = 1 };

// Why keyframes cannot make a journey.
enum class JourneyProblem : std::uint8_t {
    None = 0,
    TooFewKeyframes,  // fewer than two
    NoAttractor,      // a keyframe without attractor
    OtherKind,        // another kind of attractor, or another option (IFS maps, degree)
    OtherMode,        // another render mode
    OtherSize,        // another image size
    NoCamera,         // a keyframe without a camera: resolve the keyframes first
};

class Animation {
public:
    enum class Kind : std::uint8_t { Turntable, Journey };

    // frames is at least 1; the base should be resolved (a base without camera gets the
    // default one, which is not the fitted view).
    static Animation turntable(SceneFrame base, std::int32_t frames, double degrees, TurnAxis axis);
    // problem (if given) says why none is made. Keyframes should be resolved.
    static std::optional<Animation> journey(std::vector<SceneFrame> keyframes, std::int32_t frames,
                                            Ease ease, JourneyProblem* problem = nullptr);

    Kind kind() const { return kind_; }
    std::int32_t frameCount() const { return frames_; }
    double degrees() const { return degrees_; }
    TurnAxis axis() const { return axis_; }
    Ease ease() const { return ease_; }
    const std::vector<SceneFrame>& keyframes() const { return keys_; }

    // The time of frame i: i / N for a turntable (1 is the whole turn), i / (N - 1) for a
    // journey (0 for a journey of one frame).
    double timeOf(std::int32_t frame) const;
    // The scene at time t: a turntable's turn of degrees * t; a journey's mix at t, 0 to 1
    // (clamped). Continuous in t, for a preview that plays the path.
    SceneFrame at(double t) const;
    // The scene of frame i (0 to frameCount() - 1; a turntable also takes frameCount()).
    SceneFrame frame(std::int32_t i) const;

private:
    Animation() = default;
    SceneFrame turned(double degrees) const;

    Kind kind_ = Kind::Turntable;
    std::int32_t frames_ = 1;
    double degrees_ = 0;
    TurnAxis axis_ = TurnAxis::View;
    Ease ease_ = Ease::Linear;
    std::vector<SceneFrame> keys_;  // the turntable's base, or the journey's keyframes
};

// The camera turned by degrees about the axis; a whole number of turns (0 included) leaves it
// exactly as it was.
SceneCamera turnCamera(const SceneCamera& camera, double degrees, TurnAxis axis);

// Mixes of two values at s, 0 to 1; s = 0 gives a and s = 1 gives b exactly.
SceneCamera mixCameras(const SceneCamera& a, const SceneCamera& b, double s);
Gradientf mixGradients(const Gradientf& a, const Gradientf& b, double s);

}  // namespace qm
