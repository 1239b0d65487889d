// A render's state taken from a running engine, and a render rebuilt from a state: the
// attractor from the scene, the target of the saved mode and size with its buffers, and an
// engine that continues the saved streams. Every caller that saves or resumes a render (the
// tool's checkpoints and resume, the program's autosave) goes through these, so that they all
// write and read the same settings.
//
//   RenderState state;                          // the scene and the caller's own settings
//   state.scene = ...;
//   setRenderSettings(state, settings);
//   captureRender(target, engine, developments, state);   // between rounds, or after run
//   writeRenderState(path, state);
//
//   ResumedRender r;
//   if (prepareResume(state, threads, r) == ResumeStatus::Ok) r.engine->run(sink, control);
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_state.h"

namespace qm {

// The setting that keeps the whole scene of the render (as its scene file writes it), for the
// images of a resumed render to carry. States written before it was kept lack it.
inline constexpr std::string_view kSceneFileSetting = "scene_file";

// The engine settings a resumed render needs: iterations, updates, streams, render seed.
void setRenderSettings(RenderState& state, const EngineSettings& settings);
// Them back, each within the range the engine takes; none when one is missing or outside.
// threads stays 0.
std::optional<EngineSettings> renderSettingsOf(const RenderState& state);

// The target's settings and buffers, the engine's streams and counter, and the developments.
// With state.borrowBuffers set, the state refers to the target's buffers: write it before the
// render goes on.
void captureRender(const TBitmap3D& target, const RenderEngine& engine, std::uint64_t developments,
                   RenderState& state);

enum class ResumeStatus : std::uint8_t {
    Ok,
    BadSettings,  // the render settings, the mode or the size are missing or out of range
    BadScene,     // the scene cannot be read as an attractor
    BadTarget,    // the buffers or the view do not fit the mode and size
    BadStreams,   // the streams do not fit the stream count
    TooLarge,     // the target would not fit in the memory available beside the state
    // A multi-stream Gas render without fixed-point sums: written by an earlier version, which
    // summed in float; its bytes cannot be continued.
    EarlierGasSums,
};

struct ResumedRender {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
    std::unique_ptr<RenderEngine> engine;  // on attractor and target, at the saved streams
    EngineSettings settings;
    std::string sceneFile;  // the kSceneFileSetting, when the state has it
};

// Builds the render that continues state on `threads` threads (0: every processor). Leaves
// `out` alone unless Ok.
ResumeStatus prepareResume(const RenderState& state, std::int32_t threads, ResumedRender& out);

}  // namespace qm
