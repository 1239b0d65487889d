// The frames of an animation rendered in order and stored one by one, as the program's
// animation dialog and the tool's animate command both make them:
//   1. with a fixed exposure, a pre-pass renders a few sampled frames against their own peaks
//      and plans the exposure of every frame from them (exposure.h); the sampled frames are
//      kept, when they fit in memory, and developed again with their planned exposure;
//   2. frames already stored are kept when they carry this very frame's scene; any other one
//      stops the sequence before anything is written;
//   3. every other frame is rendered (renderFrame) and stored at once with its scene and a
//      description, so that a stopped sequence goes on from the first missing frame.
// A frame cut short by the stop request is never stored. The caller supplies the store, the
// stop request (RenderControl), the thread-start hook of the engine and an observer of the
// progress; everything runs on the calling thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/animate/animation.h"
#include "core/animate/frame_render.h"
#include "core/file/atomic_write.h"
#include "core/property/gradient.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_loop.h"

namespace qm {

// Where the frames go: in both programs PNG images that carry their scenes (png/png_frames.h).
class FrameStore {
public:
    virtual ~FrameStore() = default;
    // Whether anything at all stands where frame i goes.
    virtual bool has(std::int32_t frame) const = 0;
    // The scene text of what stands there; none when it carries none or cannot be read.
    virtual std::optional<std::string> sceneText(std::int32_t frame) const = 0;
    // Stores frame i, completely or not at all.
    virtual WriteResult write(std::int32_t frame, TBitmap3D& target, const std::string& scene,
                              const std::string& description) = 0;
};

// Where a sequence stands.
struct SequenceProgress {
    bool exposure = false;      // in the pre-pass
    std::int32_t frame = 0;     // being rendered
    std::int32_t sample = 0;    // the pre-pass's, 0 to samples - 1
    std::int32_t samples = 0;   // frames of the pre-pass
    std::int32_t finished = 0;  // frames stored or kept so far (or left out as diverged)
    std::int32_t frames = 0;
    std::int32_t rendered = 0;  // frames this run has rendered so far
    std::int32_t left = 0;      // frames this one and those after it leave to render
};

// Told on the rendering thread as the sequence goes.
class SequenceObserver {
public:
    virtual ~SequenceObserver() = default;
    // A frame of the pre-pass or of the sequence starts (progress.exposure says which).
    virtual void started(const SequenceProgress&) {}
    // Frame progress.frame is stored (or left out).
    virtual void finished(const SequenceProgress&) {}
    // The orbit of the frame diverged: its image is black, stored unless skipDiverged.
    virtual void diverged(std::int32_t /*frame*/) {}
};

struct SequenceSettings {
    bool fixedExposure = true;
    // Keep the frames already stored that are this animation's; without it, every frame is
    // rendered and stored again over whatever stands there.
    bool keepStored = true;
    // Leave a diverged frame out instead of storing it black.
    bool skipDiverged = false;
    FrameRenderOptions render;  // threads and the engine's thread-start hook
};

struct SequenceOutcome {
    enum Status : std::uint8_t { Done, Stopped, NotThisFrame, WriteFailed, NotPrepared };
    Status status = Done;
    bool inPrePass = false;     // stopped during the exposure's pre-pass
    std::int32_t frame = 0;     // the frame a failure or the stop is about
    std::int32_t written = 0;   // frames stored by this run
    std::int32_t kept = 0;      // frames found stored before, and kept
    std::int32_t rendered = 0;  // frames this run rendered, diverged ones left out included
    std::vector<std::int32_t> diverged;
    int systemError = 0;  // of a failed write
    bool notRegular = false;
    std::optional<double> firstExposure;  // the fixed exposure of frame 0, when planned
};

// Renders the animation's frames into store. Gradients a scene lacks are the defaults given.
SequenceOutcome renderFrameSequence(const Animation& animation, const Gradientf& defaultSpeed,
                                    const Gradientf& defaultAngle, const SequenceSettings& settings,
                                    FrameStore& store, SequenceObserver& observer,
                                    RenderControl& control);

}  // namespace qm
